// The log file, followed by its name: once the file has been renamed or
// deleted (log rotation), later records go to a file of that name again.
#ifndef SYSLOG_LISTEN_LISTENER_LOG_FILE_H_
#define SYSLOG_LISTEN_LISTENER_LOG_FILE_H_

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace syslog_listen {

class LogFile {
 public:
  using Clock = std::chrono::steady_clock;
  // How often, at most, the name is looked at: one metadata call a second,
  // nothing per record.
  static constexpr Clock::duration kCheckInterval = std::chrono::seconds(1);

  // Takes over `file`, opened from `name`, and writes it unbuffered.
  LogFile(std::string name, std::FILE* file);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends `bytes`. First, if a check is due, makes sure the name still
  // names the open file; if not, opens the name again (no banner) and
  // writes there. When the name cannot be opened again, the open file is
  // kept and the name tried again a second later; the first failure of a
  // streak returns the line to report on standard error, else "".
  std::string Write(std::string_view bytes);

 private:
  std::string Follow();
  // Opens the name again in place of the open file, which is closed once
  // the new one is open; false when the name cannot be opened. The open
  // file is then kept, unless it is pending deletion (Windows): that one
  // is closed first, and there is no file to write to until a later call
  // succeeds.
  bool Reopen();

  const std::string name_;
  std::FILE* file_;
  Clock::time_point nextCheck_;
  bool reopenFailing_ = false;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_LOG_FILE_H_
