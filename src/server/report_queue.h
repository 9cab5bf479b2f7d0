// The server's own reports on their way to standard error, which a thread of
// their own writes: standard error may stall (a paused terminal, a pipe
// nobody reads) independently of standard output, and neither may hold up
// the other or the receive path.
#ifndef SYSLOG_LISTEN_SERVER_REPORT_QUEUE_H_
#define SYSLOG_LISTEN_SERVER_REPORT_QUEUE_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace syslog_listen {

// Holds a few reports. When more come while it is full, it keeps the latest
// and counts the ones it leaves out between, so that nothing goes without a
// word and the latest word (a running total of drops, say) is always seen.
class ReportQueue {
 public:
  static constexpr std::size_t kMaxWaiting = 8;

  // Never waits.
  void Add(std::string line);
  // Waits until there are reports, then takes them in order, the line that
  // counts those left out in their place.
  void Take(std::vector<std::string>& lines);
  // The lines last taken are written (or given up on).
  void Done();
  // Waits until everything added has been taken and written, or `deadline`;
  // true when it has.
  bool WaitUntilWritten(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable written_;
  std::vector<std::string> waiting_;
  std::string latest_;  // once full: the newest report
  std::uint64_t leftOut_ = 0;
  bool writing_ = false;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_REPORT_QUEUE_H_
