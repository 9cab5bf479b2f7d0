#include "server/drop_report.h"

#include <utility>

#include "common/counts.h"
#include "common/messages.h"
#include "records/record.h"

namespace syslog_listen {

void DropReport::Observe(std::uint32_t count) {
  // Unsigned difference: correct across a wrap of the 32-bit count.
  total_ += static_cast<std::uint32_t>(count - lastCount_);
  lastCount_ = count;
}

std::string DropReport::LineIfDue(Clock::time_point now) {
  if (!Pending() || MillisecondsUntilDue(now) > 0) return "";
  reported_ = total_;
  pace_.Reported(now);
  return machine_ ? Fill(kMachineDrops, Counted(total_, kUdpDatagramNoun))
                  : Fill(kSocketDrops, Counted(total_, kDatagramNoun));
}

void CutReport::Cut(std::size_t size, std::optional<std::uint32_t> sender) {
  ++total_;
  // Where no size is said, every one is kUnknownSize: the first stays.
  if (pending_++ == 0 || size > largest_) {
    largest_ = size;
    sender_ = sender;
  }
}

std::string CutReport::LineIfDue(Clock::time_point now) {
  if (pending_ == 0 || MillisecondsUntilDue(now) > 0) return "";
  const bool sized = largest_ != Datagram::kUnknownSize;
  std::string known;
  if (sized) {
    known =
        Fill(pending_ == 1 ? kCutSize : kCutLargest, std::to_string(largest_));
  }
  if (sender_) {
    std::string address;
    AppendDottedQuad(address, *sender_);
    if (!known.empty()) known += ", ";
    AppendFilled(known, sized || pending_ == 1 ? kCutFrom : kCutFirstFrom,
                 address);
  }
  if (!known.empty()) known = " (" + known + ")";
  std::string line =
      kind_ == Kind::kLong
          ? Fill(kCutDatagrams, Counted(pending_, kCutNoun), known)
          : Fill(kNulCutDatagrams, Counted(pending_, kNulCutNoun), known);
  pending_ = 0;
  pace_.Reported(now);
  return line;
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

void DropMonitor::Received(const Datagram& datagram, bool cutAtNul,
                           bool withSender) {
  poll_.Traffic();
  if (datagram.size <= datagram.bytes.size() && !cutAtNul) return;
  std::optional<std::uint32_t> sender;
  if (withSender) sender = datagram.senderNetOrder;
  if (datagram.size > datagram.bytes.size()) cuts_.Cut(datagram.size, sender);
  if (cutAtNul) nulCuts_.Cut(Datagram::kUnknownSize, sender);
}

std::vector<std::string> DropMonitor::Check(Clock::time_point now) {
  if (poll_.Due(now)) Read(poll_.Asked(now));
  return Lines(now);
}

int DropMonitor::MillisecondsUntilDue(Clock::time_point now) const {
  return Sooner(Sooner(report_.MillisecondsUntilDue(now),
                       poll_.MillisecondsUntilDue(now)),
                Sooner(cuts_.MillisecondsUntilDue(now),
                       nulCuts_.MillisecondsUntilDue(now)));
}

std::vector<std::string> DropMonitor::Finish() {
  Read(poll_.traffic());
  // Whatever the time since the last report.
  return Lines(Clock::time_point::max());
}

std::vector<std::string> DropMonitor::Lines(Clock::time_point now) {
  std::vector<std::string> lines;
  if (std::string report = report_.LineIfDue(now); !report.empty()) {
    lines.push_back(std::move(report));
  }
  ExplainQueue(lines);
  for (CutReport* cuts : {&cuts_, &nulCuts_}) {
    if (std::string cut = cuts->LineIfDue(now); !cut.empty()) {
      lines.push_back(std::move(cut));
    }
  }
  return lines;
}

void DropMonitor::ExplainQueue(std::vector<std::string>& lines) {
  if (lines.empty() || queueExplained_) return;
  queueExplained_ = true;
  const long granted = GrantedReceiveQueue(socket_);
  if (granted >= 0 && granted < kReceiveQueueBytes) {
    lines.push_back(Fill(kSmallQueue,
                         GroupedDecimal(static_cast<std::uint64_t>(granted)),
                         GroupedDecimal(kReceiveQueueBytes)));
  }
}

}  // namespace syslog_listen
