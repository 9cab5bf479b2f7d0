#include "server/run_report.h"

#include <algorithm>

#include "common/deadline.h"
#include "common/messages.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

// Addresses named in the hint at most, and in the start-up line, which
// should stay one line on a screen; a machine with containers or VPNs may
// have dozens.
constexpr std::size_t kMaxAddressesShown = 6;
constexpr std::size_t kMaxAddressesAtStart = 3;

// "a, b, c and 2 more": the first `most` of `addresses`.
std::string FirstAddresses(const std::vector<std::string>& addresses,
                           std::size_t most) {
  std::string shown;
  for (std::size_t i = 0; i < addresses.size() && i < most; ++i) {
    if (i > 0) shown += ", ";
    shown += addresses[i];
  }
  if (addresses.size() > most) {
    AppendFilled(shown, kMoreAddresses,
                 GroupedDecimal(addresses.size() - most));
  }
  return shown;
}

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
                              const Losses& lost) const {
  std::string line =
      Fill(kAccount, DurationText(ran), Counted(datagrams_, kDatagramNoun),
           Counted(bytes_, kByteNoun));
  if (lost.dropped > 0) {
    AppendFilled(line,
                 lost.machineWide ? kAccountMachineDropped : kAccountDropped,
                 GroupedDecimal(lost.dropped));
  }
  if (lost.cut > 0) AppendFilled(line, kAccountCut, GroupedDecimal(lost.cut));
  if (lost.nulCut > 0) {
    AppendFilled(line, kAccountNulCut, GroupedDecimal(lost.nulCut));
  }
  if (lost.notShown > 0) {
    AppendFilled(line, kAccountNotShown, Counted(lost.notShown, kRecordNoun));
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
  const std::string shown =
      addresses->empty() ? std::string(kNoAddresses)
                         : FirstAddresses(*addresses, kMaxAddressesShown);
  return Fill(kNothingReceived, number, shown, advice);
}

std::string ListeningLine(
    std::uint16_t port,
    const std::optional<std::vector<std::string>>& addresses,
    std::string_view logPath) {
  const auto shownAs = static_cast<std::int16_t>(port);
  const std::string shownAsText =
      shownAs == port ? "" : Fill(kShownAs, std::to_string(shownAs));
  std::string where;
  if (!addresses) {
    where = Fill(kEveryAddress, kAddressesUnlisted);
  } else if (addresses->empty()) {
    where = Fill(kEveryAddress, kNoAddresses);
  } else {
    where = FirstAddresses(*addresses, kMaxAddressesAtStart);
  }
  return Fill(kListening, std::to_string(port), shownAsText, where,
              TerminalEscaped(logPath));
}

}  // namespace syslog_listen
