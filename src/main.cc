// syslog-listen: receives syslog messages over UDP and writes each to the
// console and appends it to a log file.
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "platform/platform.h"
#include "records/record.h"
#include "server/server.h"

int main(int argc, char** argv) {
  using namespace syslog_listen;
  PrepareProcess();
  // The same steps as a console program and as a service, whose options
  // come from its command line too.
  const auto serve = [argc, argv] {
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<const char*> words;
    for (const std::string& argument : arguments) {
      words.push_back(argument.c_str());
    }
    const CommandLine commandLine =
        ParseCommandLine(static_cast<int>(words.size()), words.data());
    // The words are the user's, shown as text even where they hold a
    // terminal's control characters.
    for (const std::string& note : commandLine.notes) {
      WriteReport(TerminalEscaped(note));
    }
    if (commandLine.exitCode != CommandLine::kRun) {
      ExitWith(commandLine.exitCode, commandLine.output);
    }
    RunServer(commandLine.settings);
  };
  if (!RunAsService(serve)) serve();
}
