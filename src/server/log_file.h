// The log file, followed by its name: once the file has been renamed or
// deleted (log rotation), later records go to a file of that name again.
// Records reach it whole: what a full disk does not take waits in memory.
#ifndef SYSLOG_LISTEN_SERVER_LOG_FILE_H_
#define SYSLOG_LISTEN_SERVER_LOG_FILE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "server/log_disk.h"

namespace syslog_listen {

class LogFile {
 public:
  using Clock = std::chrono::steady_clock;
  // How often, at most, the name is looked at: one metadata call a second,
  // nothing per record.
  static constexpr Clock::duration kCheckInterval = std::chrono::seconds(1);
  // How often, at most, the user hears that records go into a deleted file.
  static constexpr Clock::duration kDeletedInterval = std::chrono::minutes(1);
  // What may wait for a file that takes nothing (a full disk); records
  // beyond are lost, each whole.
  static constexpr std::size_t kMaxHeldBytes = 8 << 20;
  static constexpr std::size_t kMaxHeldRecords = 256 << 10;

  // Takes over `file`, opened from `name`, and writes it unbuffered. A file
  // that is not a regular one (a FIFO or a device, named on purpose) is not
  // followed.
  LogFile(std::string name, std::FILE* file);
  // The same on `disk`, from `now`, holding at most `maxHeldBytes` and
  // `maxHeldRecords`.
  LogFile(std::string name, LogDisk& disk, std::unique_ptr<LogDisk::File> file,
          Clock::time_point now, std::size_t maxHeldBytes = kMaxHeldBytes,
          std::size_t maxHeldRecords = kMaxHeldRecords);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Once the server runs as the user it keeps: when that user may not look
  // at the name, the name is not followed, and the line saying so is
  // returned; else "".
  std::string CheckFollowable();

  // Appends `bytes`, records that end at `ends` (ascending offsets into
  // `bytes`). First, if a check is due at `now`, makes sure the name still
  // names the open file; if not, opens the name again (no banner, and only
  // as a regular file) and writes there. When it cannot, the open file is
  // kept and the name tried again a second later.
  // Records that waited are written first; what the file does not take
  // waits, up to the bound. Returns the lines to report on standard error,
  // else "": once per streak of failures, or, while the open file has no
  // name left, once a minute; and when the file takes records again.
  std::string Write(std::string_view bytes, std::span<const std::size_t> ends,
                    Clock::time_point now = Clock::now());

  // True while records wait for the file to take them: Write tries again
  // even with nothing new.
  bool Holding() const { return heldFrom_ < held_.size(); }

  // At the end: tries once more to write what waits; returns the lines
  // saying how many records never reached the file, else "".
  std::string Finish(Clock::time_point now = Clock::now());

 private:
  // Looks at the name when a check is due.
  std::string FollowIfDue(Clock::time_point now);
  // Writes what waits, as much as the file takes; how the write failed.
  FileWrite::Failure WriteHeld();
  // Writes new records; what the file does not take waits. The line for a
  // failure, else "".
  std::string WriteNew(std::string_view text,
                       std::span<const std::size_t> ends);
  // Queues new records behind those that wait, or loses them whole once
  // memory holds no more.
  void HoldBehind(std::string_view text, std::span<const std::size_t> ends);
  // Keeps `text`, the rest of a batch from `skip` on, whose records end at
  // `ends` (offsets into the whole batch).
  void Hold(std::string_view text, std::span<const std::size_t> ends,
            std::size_t skip);
  // `written` bytes of what waits are in the file.
  void Advance(std::size_t written);
  // The line for when what waited is written.
  std::string Resumed();
  // The line for a failed write, once per streak.
  std::string Failed(FileWrite::Failure failure);

  std::string Follow(Clock::time_point now);
  // Opens the name again in place of the open file, which is closed once
  // the new one is open; false when the name cannot be opened. The open
  // file is then kept, unless its name stays taken until it is closed
  // (Windows): that one is closed first, and there is no file to write to
  // until a later call succeeds.
  bool Reopen();

  const std::string name_;
  const std::string shownName_;  // in reports, escaped as on a terminal
  LogDisk& disk_;
  std::unique_ptr<LogDisk::File> file_;
  const std::size_t maxHeldBytes_;
  const std::size_t maxHeldRecords_;
  bool following_;
  Clock::time_point nextCheck_;
  bool reopenFailing_ = false;
  std::optional<Clock::time_point> deletedReported_;
  // What waits for the file: held_ from heldFrom_ on; where its records
  // end, counted from the first byte that ever waited in this streak.
  std::string held_;
  std::size_t heldFrom_ = 0;
  std::uint64_t heldBase_ = 0;  // bytes of the streak dropped from held_
  std::deque<std::uint64_t> heldEnds_;
  // Where the first record not yet written whole starts.
  std::uint64_t headStart_ = 0;
  std::uint64_t lost_ = 0;  // records of this streak that found no room
  bool writeFailing_ = false;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_LOG_FILE_H_
