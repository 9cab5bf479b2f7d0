// Tells the user, at most once a second, that the system dropped datagrams
// because the socket's receive queue was full (or, where the system counts
// only for the whole machine, that it dropped UDP datagrams).
#ifndef SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_
#define SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/messages.h"

namespace syslog_listen {

class DropReport {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::seconds(1);

  // `tail` follows the count in the report line: what was counted.
  // `countAtStart`: the system's count when the server started, where it
  // counts from before then (for the whole machine).
  explicit DropReport(std::string_view tail = kDropReportTail,
                      std::uint32_t countAtStart = 0)
      : tail_(tail), lastCount_(countAtStart) {}

  // Takes the system's count of drops. The count is 32 bits and may wrap;
  // the total here does not.
  void Observe(std::uint32_t count);

  // True when the total has grown since the last report.
  bool Pending() const { return total_ != reported_; }

  // The report line, if one is pending and the last report is at least
  // kInterval before `now`; else "". Taking it marks it reported.
  std::string Take(Clock::time_point now);

  // Milliseconds until a pending report falls due (0: due now); -1 when
  // none is pending.
  int MillisecondsUntilDue(Clock::time_point now) const;

 private:
  std::string_view tail_;
  std::uint32_t lastCount_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t reported_ = 0;
  bool everReported_ = false;
  Clock::time_point lastReport_{};
};

// Milliseconds from `now` until `due`, rounded up; 0 once it has come.
int MillisecondsUntil(DropReport::Clock::time_point due,
                      DropReport::Clock::time_point now);

// Where the system's count of drops has to be asked for (and asking costs
// more than a datagram), when to ask: at most once an interval while
// datagrams arrive, and once more after they stop, for the drops at the end
// of a burst.
class DropPoll {
 public:
  using Clock = DropReport::Clock;

  explicit DropPoll(Clock::time_point start)
      : next_(start + DropReport::kInterval) {}

  // Datagrams have arrived.
  void Traffic() { traffic_ = true; }
  bool Due(Clock::time_point now) const { return traffic_ && now >= next_; }
  void Asked(Clock::time_point now) {
    traffic_ = false;
    next_ = now + DropReport::kInterval;
  }
  // Milliseconds until a question falls due; -1 when none will.
  int MillisecondsUntilDue(Clock::time_point now) const {
    return traffic_ ? MillisecondsUntil(next_, now) : -1;
  }

 private:
  bool traffic_ = false;
  Clock::time_point next_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_DROP_REPORT_H_
