#include "server/run_report.h"

#include <algorithm>

#include "common/deadline.h"
#include "common/messages.h"

namespace syslog_listen {

namespace {

// Addresses named in the hint at most; a machine with containers or VPNs
// may have dozens.
constexpr std::size_t kMaxAddressesShown = 6;

}  // namespace

std::string DurationText(std::chrono::seconds length) {
  struct Unit {
    std::int64_t seconds;
    const char* name;
  };
  static constexpr Unit kUnits[] = {
      {86400, " d"}, {3600, " h"}, {60, " min"}, {1, " s"}};
  std::int64_t left = std::max<std::int64_t>(length.count(), 0);
  std::string text;
  int shown = 0;
  for (const Unit& unit : kUnits) {
    const std::int64_t count = left / unit.seconds;
    left %= unit.seconds;
    // The largest unit with a count, then the next one down, even at 0.
    if (shown == 0 && count == 0 && unit.seconds > 1) continue;
    if (shown > 0) text += ' ';
    text += std::to_string(count) + unit.name;
    if (++shown == 2) break;
  }
  return text;
}

void RunTally::Sender(std::uint32_t address) {
  sendersCounted_ = true;
  if (senders_.size() < kMaxSenders) senders_.insert(address);
}

std::string RunTally::Account(std::chrono::seconds ran,
                              std::optional<std::uint64_t> dropped,
                              std::uint64_t cut, std::uint64_t notShown) const {
  std::string line =
      Fill(kAccount, DurationText(ran), Counted(datagrams_, kDatagramNoun),
           Counted(bytes_, kByteNoun));
  if (dropped && *dropped > 0) {
    AppendFilled(line, kAccountDropped, GroupedDecimal(*dropped));
  }
  if (cut > 0) AppendFilled(line, kAccountCut, GroupedDecimal(cut));
  if (notShown > 0) {
    AppendFilled(line, kAccountNotShown, Counted(notShown, kRecordNoun));
  }
  if (sendersCounted_) {
    AppendFilled(
        line,
        senders_.size() < kMaxSenders ? kAccountSenders : kAccountManySenders,
        Counted(senders_.size(), kSenderNoun));
  }
  return line + "\n";
}

std::string TitleText(const TitleFigures& figures) {
  std::string title = Fill(kTitle, std::to_string(figures.port),
                           GroupedDecimal(figures.received));
  if (figures.dropped > 0) {
    AppendFilled(title, figures.machine ? kTitleMachineDropped : kTitleDropped,
                 GroupedDecimal(figures.dropped));
  }
  if (figures.senders) {
    AppendFilled(title, kTitleSenders, Counted(*figures.senders, kSenderNoun));
  }
  return title;
}

bool QuietHint::Due(Clock::time_point now) {
  if (!armed_ || now < due_) return false;
  armed_ = false;
  return true;
}

int QuietHint::MillisecondsUntilDue(Clock::time_point now) const {
  return armed_ ? MillisecondsUntil(due_, now) : kNever;
}

std::string NothingReceivedLine(
    std::uint16_t port,
    const std::optional<std::vector<std::string>>& addresses,
    const std::string& advice) {
  const std::string number = std::to_string(port);
  // Not listed is not none: the hint must not send the user looking for a
  // network the machine may well have.
  if (!addresses) {
    return Fill(kNothingReceived, number, kAddressesUnlisted, advice);
  }
  std::string shown;
  for (std::size_t i = 0; i < addresses->size() && i < kMaxAddressesShown;
       ++i) {
    if (i > 0) shown += ", ";
    shown += (*addresses)[i];
  }
  if (addresses->empty()) shown = kNoAddresses;
  if (addresses->size() > kMaxAddressesShown) {
    AppendFilled(shown, kMoreAddresses,
                 GroupedDecimal(addresses->size() - kMaxAddressesShown));
  }
  return Fill(kNothingReceived, number, shown, advice);
}

}  // namespace syslog_listen
