// POSIX side of what the user is told at the start and the end.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace syslog_listen {

std::string FullPath(const std::string& name) {
  if (name.starts_with('/')) return name;
  // The working directory as the system has it, the name appended as
  // given: a link in it is the user's own way to the file.
  std::string folder(256, '\0');
  while (getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) return name;
    folder.resize(folder.size() * 2);
  }
  folder.resize(folder.find('\0'));
  std::string_view rest = name;
  while (rest.starts_with("./")) rest.remove_prefix(2);
  if (!folder.ends_with('/')) folder.push_back('/');
  return folder.append(rest);
}

// A terminal stays open after the process: there is no window to keep.
ConsoleOwners LookAtConsole() { return {}; }

void WaitForKey() {}

}  // namespace syslog_listen
