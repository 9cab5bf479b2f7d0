// Tells the user, at most once a second, that the system dropped datagrams
// because the socket's receive queue was full.
#ifndef SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_
#define SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace syslog_listen {

class DropReport {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::seconds(1);

  // Takes the system's count of drops since the socket was opened. The
  // count is 32 bits and may wrap; the total here does not.
  void Observe(std::uint32_t droppedSinceOpen);

  // True when the total has grown since the last report.
  bool Pending() const { return total_ != reported_; }

  // The report line, if one is pending and the last report is at least
  // kInterval before `now`; else "". Taking it marks it reported.
  std::string Take(Clock::time_point now);

  // Milliseconds until a pending report falls due (0: due now); -1 when
  // none is pending.
  int MillisecondsUntilDue(Clock::time_point now) const;

 private:
  std::uint32_t lastCount_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t reported_ = 0;
  bool everReported_ = false;
  Clock::time_point lastReport_{};
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_
