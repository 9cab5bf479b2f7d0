#include "records/record.h"

#include <cstdlib>
#include <cstring>

#include "common/messages.h"
#include "records/names.h"
#include "records/priority.h"

namespace syslog_listen {

namespace {

// True when the byte at `text[at]`, below 128, is a C0 control that a
// terminal acts on instead of showing, or DEL: not tab, line feed or a
// carriage return before a line feed.
bool IsC0Control(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c == '\t' || c == '\n') return false;
  // A lone carriage return would let a sender overwrite the line shown.
  if (c == '\r') return at + 1 >= text.size() || text[at + 1] != '\n';
  return c < 32 || c == 127;
}

// What a byte of 128 or above begins in well-formed UTF-8: a sequence of
// `length` bytes (0: none, a byte that cannot lead one), whose second byte
// lies from `low` to `high` and the others from 80 to BF.
struct Lead {
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
};

Lead LeadOf(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return {2};
  // Not overlong, and no surrogate.
  if (c == 0xE0) return {3, 0xA0};
  if (c == 0xED) return {3, 0x80, 0x9F};
  if (c >= 0xE1 && c <= 0xEF) return {3};
  // Not overlong, and no more than U+10FFFF.
  if (c == 0xF0) return {4, 0x90};
  if (c == 0xF4) return {4, 0x80, 0x8F};
  if (c >= 0xF1 && c <= 0xF3) return {4};
  return {};
}

// How many of the bytes after `text[at]`, up to `count`, follow it as
// `lead` wants.
std::size_t Following(std::string_view text, std::size_t at, const Lead& lead,
                      std::size_t count) {
  std::size_t i = 1;
  for (; i <= count && at + i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[at + i]);
    if (c < (i == 1 ? lead.low : 0x80) || c > (i == 1 ? lead.high : 0xBF)) {
      break;
    }
  }
  return i - 1;
}

// The length of the well-formed UTF-8 sequence that begins at `text[at]`, a
// byte of 128 or above: 2 to 4, or 0 where none begins there (a byte alone,
// a sequence cut short, overlong or for a surrogate).
std::size_t Utf8LengthAt(std::string_view text, std::size_t at) {
  const Lead lead = LeadOf(static_cast<unsigned char>(text[at]));
  if (lead.length == 0) return 0;
  return Following(text, at, lead, lead.length - 1) == lead.length - 1
             ? lead.length
             : 0;
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
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;  // of what is shown escaped
    if (c < 0x80) {
      if (!IsC0Control(text, i)) continue;
    } else if (const std::size_t sequence = Utf8LengthAt(text, i);
               sequence == 2 && c == 0xC2 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      length = 2;  // the UTF-8 form of a C1 control
    } else if (sequence > 0) {
      i += sequence - 1;  // other UTF-8 text shows as itself
      continue;
    } else if (c > 0x9F) {
      continue;  // a byte alone from A0 up: a Latin-1 letter
    }
    // Here: a C0 control, a C1 control in UTF-8, or a byte alone from 80 to
    // 9F, which a terminal that takes 8-bit controls acts on as one.
    out.append(text.substr(plain, i - plain));
    const auto last = static_cast<unsigned char>(text[i + length - 1]);
    if (c < 0x80) {
      // ^@ for NUL up to ^_ for 31; DEL (127) is ^?.
      out.push_back('^');
      out.push_back(static_cast<char>(c ^ 0x40));
    } else {
      out.append(length == 2 ? "\\u00" : "\\x");
      out.push_back(kHex[last >> 4]);
      out.push_back(kHex[last & 0xF]);
    }
    i += length - 1;
    plain = i + 1;
  }
  out.append(text.substr(plain));
  if (loneLead) out.append("\\xC2");
}

std::size_t Utf8CutShort(std::string_view text) {
  // The lead is one of the last three bytes, all after it following it.
  for (std::size_t tail = 1; tail <= 3 && tail <= text.size(); ++tail) {
    const std::size_t at = text.size() - tail;
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80 && c <= 0xBF) continue;  // a continuation: look further
    const Lead lead = LeadOf(c);
    const bool begun =
        lead.length > tail && Following(text, at, lead, 3) == tail - 1;
    return begun ? tail : 0;
  }
  return 0;
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
