#include "listener/drop_report.h"

#include "common/messages.h"

namespace syslog_listen {

void DropReport::Observe(std::uint32_t count) {
  // Unsigned difference: correct across a wrap of the 32-bit count.
  total_ += static_cast<std::uint32_t>(count - lastCount_);
  lastCount_ = count;
}

std::string DropReport::Take(Clock::time_point now) {
  if (!Pending() || MillisecondsUntilDue(now) > 0) return "";
  reported_ = total_;
  everReported_ = true;
  lastReport_ = now;
  return Concat(kReportHead, std::to_string(total_), tail_);
}

int DropReport::MillisecondsUntilDue(Clock::time_point now) const {
  if (!Pending()) return -1;
  if (!everReported_) return 0;
  return MillisecondsUntil(lastReport_ + kInterval, now);
}

int MillisecondsUntil(DropReport::Clock::time_point due,
                      DropReport::Clock::time_point now) {
  if (now >= due) return 0;
  return static_cast<int>(
      std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

}  // namespace syslog_listen
