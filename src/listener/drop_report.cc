#include "listener/drop_report.h"

#include "common/messages.h"

namespace syslog_listen {

void DropReport::Observe(std::uint32_t droppedSinceOpen) {
  // Unsigned difference: correct across a wrap of the 32-bit count.
  total_ += static_cast<std::uint32_t>(droppedSinceOpen - lastCount_);
  lastCount_ = droppedSinceOpen;
}

std::string DropReport::Take(Clock::time_point now) {
  if (!Pending() || MillisecondsUntilDue(now) > 0) return "";
  reported_ = total_;
  everReported_ = true;
  lastReport_ = now;
  std::string line(kReportHead);
  line.append(std::to_string(total_));
  line.append(kDropReportTail);
  return line;
}

int DropReport::MillisecondsUntilDue(Clock::time_point now) const {
  if (!Pending()) return -1;
  if (!everReported_ || now - lastReport_ >= kInterval) return 0;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
      lastReport_ + kInterval - now);
  return static_cast<int>(wait.count());
}

}  // namespace syslog_listen
