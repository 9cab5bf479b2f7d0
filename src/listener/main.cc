// syslog-listen: receives syslog messages over UDP and writes each to the
// console and appends it to a log file.
#include "cli/command_line.h"
#include "listener/platform.h"
#include "listener/server.h"

int main(int argc, char** argv) {
  using namespace syslog_listen;
  PrepareProcess();
  const CommandLine commandLine = ParseCommandLine(argc, argv);
  if (commandLine.exitCode != CommandLine::kRun) {
    ExitWith(commandLine.exitCode, commandLine.output);
  }
  RunServer(commandLine.settings);
}
