#include "records/record.h"

#include <cstdlib>
#include <cstring>

#include "common/messages.h"
#include "records/names.h"
#include "records/priority.h"

namespace syslog_listen {

namespace {

// Bytes that a terminal acts on instead of showing at `text[at]`: 1 for a
// C0 control other than tab, line feed and a carriage return before a line
// feed, or DEL; 2 for the UTF-8 form of a C1 control (U+0080 to U+009F,
// CSI and OSC among them); 0 for a byte that shows as itself.
std::size_t ControlAt(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c == '\t' || c == '\n') return 0;
  // A lone carriage return would let a sender overwrite the line shown.
  if (c == '\r') return at + 1 < text.size() && text[at + 1] == '\n' ? 0 : 1;
  if (c < 32 || c == 127) return 1;
  if (c == 0xC2 && at + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[at + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

// Bold red, red, yellow, dim; and the reset. Notice and informational,
// the bulk of most traffic (logger sends notice unless told otherwise),
// stay plain: marking them would mark nearly everything, and cost a busy
// terminal the bytes.
constexpr std::string_view kSeverityColours[8] = {
    "\x1b[1;31m", "\x1b[1;31m", "\x1b[1;31m", "\x1b[31m",
    "\x1b[33m",   "",           "",           "\x1b[2m"};

// Ends the colour that `out` took from `start` on within the record, before
// its line end if it has one, so that the next line starts plain.
void EndColour(std::string& out, std::size_t start) {
  std::size_t end = out.size();
  if (end > start && out[end - 1] == '\n') {
    --end;
    if (end > start && out[end - 1] == '\r') --end;
  }
  out.insert(end, kColourReset);
}

void AppendDecimalByte(std::string& out, unsigned value) {
  if (value >= 100) out.push_back(static_cast<char>('0' + value / 100));
  if (value >= 10) out.push_back(static_cast<char>('0' + value / 10 % 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

void AppendDottedQuad(std::string& out, std::uint32_t addressNetOrder) {
  // The value holds the address bytes in memory order, whatever the host's
  // byte order, so read them back as bytes.
  unsigned char bytes[4];
  std::memcpy(bytes, &addressNetOrder, sizeof bytes);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) out.push_back('.');
    AppendDecimalByte(out, bytes[i]);
  }
}

void AppendTerminalEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // A C2 at the very end would take whatever follows it as its second byte,
  // and C2 80 to C2 9F are the C1 controls. The only lead byte that can
  // complete to one.
  const bool loneLead =
      !text.empty() && static_cast<unsigned char>(text.back()) == 0xC2;
  if (loneLead) text.remove_suffix(1);
  std::size_t plain = 0;  // start of the run not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t control = ControlAt(text, i);
    if (control == 0) continue;
    out.append(text.substr(plain, i - plain));
    const auto c = static_cast<unsigned char>(text[i + control - 1]);
    if (control == 1) {
      // ^@ for NUL up to ^_ for 31; DEL (127) is ^?.
      out.push_back('^');
      out.push_back(static_cast<char>(c ^ 0x40));
    } else {
      out.append("\\u00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
    i += control - 1;
    plain = i + 1;
  }
  out.append(text.substr(plain));
  if (loneLead) out.append("\\xC2");
}

std::string TerminalEscaped(std::string_view text) {
  std::string out;
  AppendTerminalEscaped(out, text);
  return out;
}

void AppendRecord(std::string& out, Output output, const Message& message,
                  bool annotate) {
  AppendRecord(out, output, message, ParsePriority(message.text), annotate);
}

std::string_view SeverityColour(int severity) {
  return severity >= 0 && severity < 8 ? kSeverityColours[severity] : "";
}

void AppendRecord(std::string& out, Output output, const Message& message,
                  const PriorityHeader& header, bool annotate) {
  const std::size_t start = out.size();
  // Added around what is escaped already: a sender cannot inject one.
  const std::string_view colour =
      output == Output::kColourTerminal && header.priority != 0
          ? SeverityColour(SeverityIndex(header.priority))
          : "";
  out.append(colour);
  // The header is stripped whether or not the record is annotated.
  if (annotate) {
    out.append(message.arrivalTime);
    out.push_back(' ');
    if (header.priority != 0) {
      const Template<3>& annotation =
          output == Output::kLogFile ? kFileAnnotation : kConsoleAnnotation;
      out.append(annotation.piece(0));
      out.append(FacilityName(FacilityIndex(header.priority)));
      out.append(annotation.piece(1));
      out.append(SeverityName(SeverityIndex(header.priority)));
      out.append(annotation.piece(2));
      AppendDottedQuad(out, message.senderNetOrder);
      out.append(annotation.piece(3));
    }
  }
  const bool terminal =
      output == Output::kTerminal || output == Output::kColourTerminal;
  if (terminal) {
    AppendTerminalEscaped(out, header.body);
  } else {
    out.append(header.body);
  }
  // An empty record takes no line, in a colour or not.
  const bool empty = out.size() == start + colour.size();
  if (!colour.empty()) EndColour(out, start + colour.size());
  // Most senders end a message without a line feed: on a screen the next
  // record would run on in the same line.
  if (terminal && !empty && out.back() != '\n') {
    out.push_back('\n');
  }
}

std::string ComposeRecord(Output output, const Message& message,
                          bool annotate) {
  std::string out;
  AppendRecord(out, output, message, annotate);
  return out;
}

bool ColoursWanted() {
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (noColour == nullptr || *noColour == '\0') &&
         (term == nullptr || std::string_view(term) != "dumb");
}

}  // namespace syslog_listen
