// The log file, followed by its name: once the file has been renamed or
// deleted (log rotation), later records go to a file of that name again.
#ifndef SYSLOG_LISTEN_LISTENER_LOG_FILE_H_
#define SYSLOG_LISTEN_LISTENER_LOG_FILE_H_

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace syslog_listen {

class LogFile {
 public:
  using Clock = std::chrono::steady_clock;
  // How often, at most, the name is looked at: one metadata call a second,
  // nothing per record.
  static constexpr Clock::duration kCheckInterval = std::chrono::seconds(1);
  // How often, at most, the user hears that records go into a deleted file.
  static constexpr Clock::duration kDeletedInterval = std::chrono::minutes(1);

  // Takes over `file`, opened from `name`, and writes it unbuffered. A file
  // that is not a regular one (a FIFO or a device, named on purpose) is not
  // followed.
  LogFile(std::string name, std::FILE* file);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Once the server runs as the user it keeps: when that user may not look
  // at the name, the name is not followed, and the line saying so is
  // returned; else "".
  std::string CheckFollowable();

  // Appends `bytes`. First, if a check is due, makes sure the name still
  // names the open file; if not, opens the name again (no banner, and only
  // as a regular file) and writes there. When it cannot, the open file is
  // kept and the name tried again a second later. Returns the line to
  // report on standard error, else "": once per streak of failures, or,
  // while the open file has no name left, once a minute.
  std::string Write(std::string_view bytes);

 private:
  std::string Follow(Clock::time_point now);
  // Opens the name again in place of the open file, which is closed once
  // the new one is open; false when the name cannot be opened. The open
  // file is then kept, unless its name stays taken until it is closed
  // (Windows): that one is closed first, and there is no file to write to
  // until a later call succeeds.
  bool Reopen();

  const std::string name_;
  std::FILE* file_;
  bool following_;
  Clock::time_point nextCheck_;
  bool reopenFailing_ = false;
  std::optional<Clock::time_point> deletedReported_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_LOG_FILE_H_
