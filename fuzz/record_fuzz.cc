// Fuzzes the priority header and record composition with random bytes:
// NUL, bytes above 127, "%n", long digit runs and signs among them.
//
// Properties: the body is a suffix of the message text; the console and
// file records differ only inside the annotation; a terminal's record shows
// no control character but tab, LF and CR, C0 or C1, 7-bit or 8-bit, and
// is the body once escaped, with a line feed after it where it has none.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "records/priority.h"
#include "records/record.h"

namespace {

using namespace syslog_listen;

constexpr std::string_view kTime = "Mon Jun 02 09:05:07 2025";

void Require(bool condition) {
  if (!condition) std::abort();
}

bool StartsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// What stands between the prefix (time and space) and the body.
std::string_view Middle(std::string_view record, std::string_view body) {
  Require(StartsWith(record, std::string(kTime) + " "));
  Require(record.size() >= kTime.size() + 1 + body.size());
  Require(record.substr(record.size() - body.size()) == body);
  return record.substr(kTime.size() + 1,
                       record.size() - body.size() - kTime.size() - 1);
}

// The length of the well-formed UTF-8 sequence at `text[at]`, read by
// decoding it: the code point must need that many bytes, and be no
// surrogate and no more than U+10FFFF; 0 where none begins there.
std::size_t DecodedLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC0 || lead >= 0xF8 || text.size() - at < length) return 0;
  std::uint32_t point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    point = point << 6 | (next & 0x3F);
  }
  static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || point > 0x10FFFF ||
      (point >= 0xD800 && point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// An independent reading of the escapes: walks the body and the shown text
// side by side.
void CheckEscaped(std::string_view body, std::string_view shown) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t at = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    const bool crlf =
        byte == '\r' && i + 1 < body.size() && body[i + 1] == '\n';
    const bool c0 =
        (byte < 32 && byte != '\t' && byte != '\n' && !crlf) || byte == 127;
    const std::size_t length = byte >= 0x80 ? DecodedLength(body, i) : 1;
    const bool c1 = length == 2 && byte == 0xC2 &&
                    static_cast<unsigned char>(body[i + 1]) < 0xA0;
    // The next record's first byte could make a C1 control of it.
    const bool lastLead = byte == 0xC2 && i + 1 == body.size();
    Require(at < shown.size());
    if (lastLead) {
      Require(shown.substr(at) == "\\xC2");
      at += 4;
    } else if (c0) {
      Require(shown.substr(at, 2) ==
              std::string{'^', static_cast<char>(byte ^ 0x40)});
      at += 2;
    } else if (c1) {
      const auto low = static_cast<unsigned char>(body[++i]);
      Require(shown.substr(at, 6) ==
              std::string("\\u00") + kHex[low >> 4] + kHex[low & 15]);
      at += 6;
    } else if (length == 0 && byte < 0xA0) {
      // A C1 control to a terminal that takes 8-bit ones.
      Require(shown.substr(at, 4) ==
              std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15]);
      at += 4;
    } else {
      const std::size_t bytes = std::max<std::size_t>(length, 1);
      Require(shown.substr(at, bytes) == body.substr(i, bytes));
      at += bytes;
      i += bytes - 1;
    }
  }
  Require(at == shown.size());
}

// A terminal's record ends its line: the line feed added after a body
// without one is taken off, so that what is left can be compared.
std::string_view Unended(std::string_view terminal, std::string_view body) {
  if (terminal.empty()) return terminal;
  Require(terminal.back() == '\n');
  if (body.empty() || body.back() != '\n') terminal.remove_suffix(1);
  return terminal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 5) return 0;
  const bool annotate = (data[0] & 1) != 0;
  std::uint32_t sender;
  std::memcpy(&sender, data + 1, sizeof sender);
  const std::string text(reinterpret_cast<const char*>(data + 5), size - 5);
  const Message message{text, kTime, sender};

  const PriorityHeader header = ParsePriority(text);
  Require(header.body.data() + header.body.size() == text.data() + text.size());
  Require(header.body.size() <= text.size());
  Require(SeverityIndex(header.priority) >= 0 &&
          SeverityIndex(header.priority) <= 7);
  Require(FacilityIndex(header.priority) >= -23 &&
          FacilityIndex(header.priority) <= 23);

  const std::string console =
      ComposeRecord(Output::kConsole, message, annotate);
  const std::string file = ComposeRecord(Output::kLogFile, message, annotate);
  const std::string terminalRecord =
      ComposeRecord(Output::kTerminal, message, annotate);
  const std::string_view terminal = Unended(terminalRecord, header.body);
  if (!annotate) {
    Require(console == header.body && file == header.body);
    CheckEscaped(header.body, terminal);
    return 0;
  }
  const std::string_view consoleMiddle = Middle(console, header.body);
  const std::string_view fileMiddle = Middle(file, header.body);
  if (header.priority == 0) {
    Require(consoleMiddle.empty() && fileMiddle.empty());
  } else {
    // "<fac:F, svt:S> from A\n>>" against "<type:F, severity:S> from A\n>>".
    Require(StartsWith(consoleMiddle, "<fac:") &&
            StartsWith(fileMiddle, "<type:"));
    std::string fromFile(fileMiddle.substr(6));
    const auto severity = fromFile.find(", severity:");
    Require(severity != std::string::npos);
    fromFile.replace(severity, 11, ", svt:");
    Require(consoleMiddle.substr(5) == fromFile);
    Require(fromFile.size() >= 3 &&
            fromFile.compare(fromFile.size() - 3, 3, "\n>>") == 0);
  }
  // A terminal's record is the console's with only the body escaped.
  Require(StartsWith(terminal,
                     console.substr(0, console.size() - header.body.size())));
  CheckEscaped(header.body,
               terminal.substr(console.size() - header.body.size()));
  return 0;
}
