// Composes the bytes written for one received message: the optional arrival
// time and annotation, then the body. Pure: no I/O.
#ifndef SYSLOG_LISTEN_RECORDS_RECORD_H_
#define SYSLOG_LISTEN_RECORDS_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/priority.h"

namespace syslog_listen {

// The console and the log file word the annotation differently. A console
// that is a terminal also gets the body's control characters escaped, so
// that a sender cannot drive the user's terminal; one that shows colours
// also gets a record with a priority header in its severity's colour.
enum class Output { kConsole, kTerminal, kColourTerminal, kLogFile };

struct Message {
  // The datagram's bytes up to the first NUL.
  std::string_view text;
  // The time stamp text, 24 characters, no line feed.
  std::string_view arrivalTime;
  // IPv4 address as the receive reported it, in network byte order.
  std::uint32_t senderNetOrder = 0;
};

// Appends the record for `message` to `out`. With `annotate`: the arrival
// time and a space, then (for a recognised header) the annotation ending in
// "\n>>"; always the body. A terminal gets a line feed after a body that
// does not end in one, so that each record starts a line; the other outputs
// get no line end added.
void AppendRecord(std::string& out, Output output, const Message& message,
                  bool annotate);

// The same with `header` already parsed from `message.text`, for a caller
// that composes one message for both outputs.
void AppendRecord(std::string& out, Output output, const Message& message,
                  const PriorityHeader& header, bool annotate);

// The same as a fresh string.
std::string ComposeRecord(Output output, const Message& message, bool annotate);

// Appends `text` as a terminal should get it: bytes 0-31, except tab, line
// feed and a carriage return before a line feed, and 127 in caret notation
// (ESC as "^[", a lone CR as "^M", DEL as "^?"); the UTF-8 form of a C1
// control as "\u0080" to "\u009F"; a byte from 128 to 159 outside
// well-formed UTF-8, a C1 control to a terminal that takes 8-bit ones, as
// "\x80" to "\x9F"; a C2 byte at the very end, which what follows could
// complete to a C1 control, as "\xC2"; other bytes, UTF-8 text and single
// bytes of 160 and above (Latin-1 letters) included, unchanged.
void AppendTerminalEscaped(std::string& out, std::string_view text);

// How many bytes at the end of `text` (0 to 3) begin a UTF-8 character
// whose other bytes are still to come: a text shown in pieces holds them
// back, so that a character cut in two is not escaped as bytes alone.
std::size_t Utf8CutShort(std::string_view text);

// `text` escaped as above: for a text that is not ours (a file or process
// name, say) inside a line of our own, wherever that line is shown.
std::string TerminalEscaped(std::string_view text);

// The terminal's colour (an SGR sequence) for severity index 0 to 7, much
// as journalctl colours them: emergency, alert and critical bold red, error
// red, warning yellow, debug dim; "" for notice and informational, which
// keep the terminal's own colour.
std::string_view SeverityColour(int severity);
// SGR 0, which ends a severity's colour.
inline constexpr std::string_view kColourReset = "\x1b[0m";
// The terminal world's conventions: NO_COLOR set and not empty, or a
// terminal announced as dumb, ask for no colours.
bool ColoursWanted();

// Appends the address in dotted decimal, its bytes in network order.
void AppendDottedQuad(std::string& out, std::uint32_t addressNetOrder);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_RECORDS_RECORD_H_
