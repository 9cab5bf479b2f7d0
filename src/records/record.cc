#include "records/record.h"

#include <cstring>

#include "common/messages.h"
#include "records/names.h"
#include "records/priority.h"

namespace syslog_listen {

namespace {

bool IsEscaped(unsigned char c) {
  return (c < 32 && c != '\t' && c != '\n' && c != '\r') || c == 127;
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

void AppendCaretEscaped(std::string& out, std::string_view text) {
  std::size_t plain = 0;  // start of the run not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!IsEscaped(c)) continue;
    out.append(text.substr(plain, i - plain));
    out.push_back('^');
    // ^@ for NUL up to ^_ for 31; DEL (127) is ^?.
    out.push_back(static_cast<char>(c ^ 0x40));
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

void AppendRecord(std::string& out, Output output, const Message& message,
                  bool annotate) {
  AppendRecord(out, output, message, ParsePriority(message.text), annotate);
}

void AppendRecord(std::string& out, Output output, const Message& message,
                  const PriorityHeader& header, bool annotate) {
  // The header is stripped whether or not the record is annotated.
  if (annotate) {
    out.append(message.arrivalTime);
    out.push_back(' ');
    if (header.priority != 0) {
      const bool console = output != Output::kLogFile;
      out.append(console ? kConsoleFacility : kFileFacility);
      out.append(FacilityName(FacilityIndex(header.priority)));
      out.append(console ? kConsoleSeverity : kFileSeverity);
      out.append(SeverityName(SeverityIndex(header.priority)));
      out.append(kAnnotationFrom);
      AppendDottedQuad(out, message.senderNetOrder);
      out.append(kAnnotationEnd);
    }
  }
  if (output == Output::kTerminal) {
    AppendCaretEscaped(out, header.body);
  } else {
    out.append(header.body);
  }
}

std::string ComposeRecord(Output output, const Message& message,
                          bool annotate) {
  std::string out;
  AppendRecord(out, output, message, annotate);
  return out;
}

}  // namespace syslog_listen
