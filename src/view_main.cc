// syslog-listen-view: shows a log file of syslog-listen live, one record per
// line, as the server's console would.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "view/view.h"

int main(int argc, char** argv) {
  using namespace syslog_listen;
  PrepareProcess(/*selectable=*/true);
  const ViewCommand command = ParseViewCommand(ProgramArguments(argc, argv));
  if (command.exitCode != ViewCommand::kRun) {
    WriteText(stdout, command.output);
    EndProcess(command.exitCode, "");
  }
  RunView(command.file);
}
