#include "server/drop_report.h"

#include <algorithm>

#include "common/counts.h"
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
  return machine_ ? Fill(kMachineDrops, Counted(total_, kUdpDatagramNoun))
                  : Fill(kSocketDrops, Counted(total_, kDatagramNoun));
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

DropMonitor::DropMonitor(SocketHandle socket, Clock::time_point now)
    : socket_(socket),
      scope_(ReadDropCount(socket_, &count_)),
      report_(scope_, count_),
      poll_(now, /*whileQuiet=*/MachineWide()) {}

void DropMonitor::Read(bool ours) {
  if (scope_ == DropScope::kNone || ReadDropCount(socket_, &count_) != scope_) {
    return;
  }
  // The machine's count grows with every program's drops: while nothing
  // arrived here, none of them can have been ours.
  if (ours || scope_ == DropScope::kSocket) {
    report_.Observe(count_);
  } else {
    report_.Skip(count_);
  }
}

std::string DropMonitor::Check(Clock::time_point now) {
  if (poll_.Due(now)) Read(poll_.Asked(now));
  return report_.Take(now);
}

int DropMonitor::MillisecondsUntilDue(Clock::time_point now) const {
  const int report = report_.MillisecondsUntilDue(now);
  const int ask = poll_.MillisecondsUntilDue(now);
  if (report < 0 || ask < 0) return std::max(report, ask);
  return std::min(report, ask);
}

std::optional<std::uint64_t> DropMonitor::SocketDrops() const {
  if (scope_ != DropScope::kSocket) return std::nullopt;
  return report_.total();
}

std::string DropMonitor::Last() {
  Read(poll_.traffic());
  // Whatever the time since the last report.
  return report_.Take(Clock::time_point::max());
}

}  // namespace syslog_listen
