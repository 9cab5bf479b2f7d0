// The command line: turns the argument list into Settings, or into the text
// to print and the exit code to end with.
#ifndef SYSLOG_LISTEN_CLI_COMMAND_LINE_H_
#define SYSLOG_LISTEN_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/messages.h"

namespace syslog_listen {

struct Settings {
  // Bound as unsigned 16 bits, printed signed: 40000 shows as -25536.
  std::int16_t port = kDefaultPort;
  // Empty means the default name, formed from the port.
  std::string outputFileName;
  // -t: time stamp and annotation in front of each record.
  bool annotate = false;
};

struct CommandLine {
  static constexpr int kRun = -1;

  Settings settings;
  // Usage text or error message (with the error tail) to print.
  std::string output;
  // kRun: start the server with `settings`; otherwise print `output` and end
  // the process with this code.
  int exitCode = kRun;
  // Lines for standard error: one for each word skipped as no option, then
  // one for a -p value that does not read as the port it gives.
  std::vector<std::string> notes;
};

// Scans argv[1..argc-1]. argv[0], the program name, is echoed unchanged in
// the usage text and the error tail. Never fails: errors come back as
// output and an exit code, and words skipped up to the end of the scan as
// notes (each suggesting -p for a number that names a port the server
// will not listen on anyway).
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The five-line usage text for the given program name.
std::string UsageText(std::string_view programName);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_CLI_COMMAND_LINE_H_
