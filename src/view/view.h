// syslog-listen-view: shows a log file of the server's live, record by
// record, following it through rotation, until it is stopped.
#ifndef SYSLOG_LISTEN_VIEW_VIEW_H_
#define SYSLOG_LISTEN_VIEW_VIEW_H_

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace syslog_listen {

struct ViewCommand {
  static constexpr int kRun = -1;
  std::string file;  // "" for the service's log
  int exitCode = kRun;
  std::string output;  // for standard output, before the exit
};

// The arguments, the program's name first: [-h] [--] [FILE].
ViewCommand ParseViewCommand(const std::vector<std::string>& arguments);

// The path of the most recently written syslog.<port>.log among `entries`.
std::optional<std::string> NewestServiceLog(
    std::span<const FolderEntry> entries);

// Shows `file`, or the service's log when it is "", until a stop request;
// then ends the process as the request would have.
[[noreturn]] void RunView(const std::string& file);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_VIEW_VIEW_H_
