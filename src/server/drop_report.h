// Tells the user, at most once a second, that the system dropped datagrams
// because the socket's receive queue was full (or, where the system counts
// only for the whole machine, that it dropped UDP datagrams while datagrams
// arrived here), within about two seconds of the drops and without waiting
// for another datagram; and that datagrams longer than the receive takes
// were recorded cut.
#ifndef SYSLOG_LISTEN_SERVER_DROP_REPORT_H_
#define SYSLOG_LISTEN_SERVER_DROP_REPORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/deadline.h"
#include "platform/platform.h"
#include "server/run_report.h"

namespace syslog_listen {

// When a report may be made: at once the first time, then at most once an
// interval.
class ReportPace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kInterval = std::chrono::seconds(1);

  // Milliseconds until a report of what is `pending` falls due (0: due
  // now); kNever when nothing is pending.
  int MillisecondsUntilDue(bool pending, Clock::time_point now) const {
    if (!pending) return kNever;
    return last_ ? MillisecondsUntil(*last_ + kInterval, now) : 0;
  }
  void Reported(Clock::time_point now) { last_ = now; }

 private:
  std::optional<Clock::time_point> last_;
};

class DropReport {
 public:
  using Clock = ReportPace::Clock;
  static constexpr Clock::duration kInterval = ReportPace::kInterval;

  // `scope` says what was counted. `countAtStart`: the system's count when
  // the server started, where it counts from before then (for the whole
  // machine).
  explicit DropReport(DropScope scope = DropScope::kSocket,
                      std::uint32_t countAtStart = 0)
      : machine_(scope == DropScope::kMachine), lastCount_(countAtStart) {}

  // Takes the system's count of drops. The count is 32 bits and may wrap;
  // the total here does not.
  void Observe(std::uint32_t count);
  // Takes the count as the new start: the growth up to it is not reported.
  void Skip(std::uint32_t count) { lastCount_ = count; }

  // True when the total has grown since the last report.
  bool Pending() const { return total_ != reported_; }

  // The report line, if one is pending and the last report is at least
  // kInterval before `now`; else "". A line returned counts as reported.
  std::string LineIfDue(Clock::time_point now);

  // Milliseconds until a pending report falls due (0: due now); kNever when
  // none is pending.
  int MillisecondsUntilDue(Clock::time_point now) const {
    return pace_.MillisecondsUntilDue(Pending(), now);
  }

  std::uint64_t total() const { return total_; }

 private:
  bool machine_;
  std::uint32_t lastCount_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t reported_ = 0;
  ReportPace pace_;
};

// Datagrams recorded cut, longer than the receive takes or at a NUL byte:
// how many since the last report, and what is known of the largest of them
// (of the first, for NULs).
class CutReport {
 public:
  using Clock = ReportPace::Clock;
  enum class Kind { kLong, kNul };

  explicit CutReport(Kind kind = Kind::kLong) : kind_(kind) {}

  // A datagram of `size` bytes as sent (Datagram::kUnknownSize where the
  // system does not say, or for a NUL) was cut; `sender` where the address
  // is at hand.
  void Cut(std::size_t size, std::optional<std::uint32_t> sender);
  // The line for those cut since the last report, as ReportPace allows at
  // `now`; else "".
  std::string LineIfDue(Clock::time_point now);
  int MillisecondsUntilDue(Clock::time_point now) const {
    return pace_.MillisecondsUntilDue(pending_ > 0, now);
  }
  // Datagrams cut since the start.
  std::uint64_t total() const { return total_; }

 private:
  Kind kind_;
  std::uint64_t total_ = 0;
  std::uint64_t pending_ = 0;  // since the last report
  std::size_t largest_ = 0;    // of those: the size, and its sender
  std::optional<std::uint32_t> sender_;
  ReportPace pace_;
};

// When to ask the system for its count of drops (asking costs more than a
// datagram): at most once an interval while datagrams arrive, and once more
// after they stop, for the drops at the end of a burst. `whileQuiet`: also
// once an interval while none arrive, so that a count that holds other
// programs' drops (the whole machine's) starts afresh before datagrams come.
class DropPoll {
 public:
  using Clock = DropReport::Clock;

  explicit DropPoll(Clock::time_point start, bool whileQuiet = false)
      : whileQuiet_(whileQuiet), next_(start + DropReport::kInterval) {}

  // Datagrams have arrived.
  void Traffic() { traffic_ = true; }
  // Whether datagrams arrived since the last question.
  bool traffic() const { return traffic_; }
  bool Due(Clock::time_point now) const {
    return (traffic_ || whileQuiet_) && now >= next_;
  }
  // Returns whether datagrams arrived in the interval the answer covers.
  bool Asked(Clock::time_point now) {
    const bool traffic = traffic_;
    traffic_ = false;
    next_ = now + DropReport::kInterval;
    return traffic;
  }
  // Milliseconds until a question falls due; kNever when none will.
  int MillisecondsUntilDue(Clock::time_point now) const {
    return traffic_ || whileQuiet_ ? MillisecondsUntil(next_, now) : kNever;
  }

 private:
  bool whileQuiet_;
  bool traffic_ = false;
  Clock::time_point next_;
};

// The system's count of drops for the server's socket (or the machine),
// asked for on DropPoll's schedule and reported through DropReport; the
// first report is followed by why the system dropped datagrams, where it
// granted the socket a smaller queue than asked for (kReceiveQueueBytes).
// The datagrams recorded cut, long ones and those with a NUL, are reported
// beside the drops, through CutReport: all are datagrams the server did not
// get whole.
class DropMonitor {
 public:
  using Clock = DropReport::Clock;

  // Takes the count at `now` as the start.
  DropMonitor(SocketHandle socket, Clock::time_point now);

  // `datagram` has arrived; its record left out what followed a NUL byte
  // in it when `cutAtNul`. Its sender is at hand `withSender`.
  void Received(const Datagram& datagram, bool cutAtNul, bool withSender);
  // Asks the system if it is time to; the lines to report when a report is
  // due, else none.
  std::vector<std::string> Check(Clock::time_point now);
  // Milliseconds until Check has something to do; kNever when nothing will
  // come due.
  int MillisecondsUntilDue(Clock::time_point now) const;
  // At the stop: asks once more, and reports growth not yet reported,
  // however recent the last report.
  std::vector<std::string> Finish();
  // The drops since the start, for the socket or (MachineWide) the whole
  // machine while datagrams arrived; 0 where the system counts none.
  std::uint64_t Dropped() const { return report_.total(); }
  bool MachineWide() const { return scope_ == DropScope::kMachine; }
  // What the account names: the drops and cuts since the start, and the
  // `notShown` records the console left off.
  Losses Lost(std::uint64_t notShown) const {
    return {.dropped = Dropped(),
            .machineWide = MachineWide(),
            .cut = cuts_.total(),
            .nulCut = nulCuts_.total(),
            .notShown = notShown};
  }

 private:
  // `ours`: whether datagrams arrived since the last read.
  void Read(bool ours);
  // The lines due at `now` (any time: max()): the first drop report
  // followed by why, then the cuts.
  std::vector<std::string> Lines(Clock::time_point now);
  // After a first drop report in `lines`: why, where the queue is small.
  void ExplainQueue(std::vector<std::string>& lines);

  SocketHandle socket_;
  std::uint32_t count_ = 0;  // before scope_, which is read into it
  DropScope scope_ = DropScope::kNone;
  DropReport report_;
  DropPoll poll_;
  bool queueExplained_ = false;
  CutReport cuts_;
  CutReport nulCuts_{CutReport::Kind::kNul};
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_DROP_REPORT_H_
