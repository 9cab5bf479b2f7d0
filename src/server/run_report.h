// What the server tells the user of a run as a whole: where it listens and
// writes when it starts, a hint when nothing has arrived a minute after the
// start, and an account of what it received when it stops. Pure: no I/O.
#ifndef SYSLOG_LISTEN_SERVER_RUN_REPORT_H_
#define SYSLOG_LISTEN_SERVER_RUN_REPORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/counts.h"

namespace syslog_listen {

// "45 s", "12 min 5 s", "3 h 0 min", "4 d 3 h": the two largest units.
std::string DurationText(std::chrono::seconds length);

// What a run did not get whole, or did not show, as the account names it.
struct Losses {
  std::uint64_t dropped = 0;   // by the system, as the drop reports said
  bool machineWide = false;    // `dropped` is the whole machine's count
  std::uint64_t cut = 0;       // longer than the receive takes
  std::uint64_t nulCut = 0;    // recorded up to a NUL byte
  std::uint64_t notShown = 0;  // records left off the console
};

// What a run received.
class RunTally {
 public:
  // Distinct senders counted at most: a sender can forge any address.
  static constexpr std::size_t kMaxSenders = 65536;

  std::uint64_t datagrams() const { return datagrams_; }
  // The senders counted, where they are.
  std::optional<std::uint64_t> senders() const {
    if (!sendersCounted_) return std::nullopt;
    return senders_.size();
  }

  void Datagram(std::size_t bytes) {
    ++datagrams_;
    bytes_ += bytes;
  }
  // Only where the address is at hand anyway (-t).
  void Sender(std::uint32_t address);

  // The account line, with what was `lost` where it is not nothing.
  std::string Account(std::chrono::seconds ran, const Losses& lost) const;

 private:
  std::uint64_t datagrams_ = 0;
  std::uint64_t bytes_ = 0;
  std::unordered_set<std::uint32_t> senders_;
  bool sendersCounted_ = false;
};

// The terminal's title: the port, the datagrams received, the drops where
// the system counts them (`machine`: for the whole machine), the senders
// where they are counted.
struct TitleFigures {
  std::uint16_t port = 0;
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;
  bool machine = false;
  std::optional<std::uint64_t> senders{};
  bool operator==(const TitleFigures&) const = default;
};
std::string TitleText(const TitleFigures& figures);

// When to say that nothing has arrived: once, a minute after the start,
// unless a datagram came first.
class QuietHint {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kAfter = std::chrono::minutes(1);

  explicit QuietHint(Clock::time_point start) : due_(start + kAfter) {}

  // A datagram has arrived: no hint, ever.
  void Received() { armed_ = false; }
  // True once, when the hint is due.
  bool Due(Clock::time_point now);
  // Milliseconds until it is due; kNever when it never will be.
  int MillisecondsUntilDue(Clock::time_point now) const;

 private:
  Clock::time_point due_;
  bool armed_ = true;
};

// The hint's line for `port`: the machine's `addresses` (a few of them, and
// how many more; nullopt where they could not be listed), and the
// platform's firewall `advice`.
std::string NothingReceivedLine(
    std::uint16_t port,
    const std::optional<std::vector<std::string>>& addresses,
    const std::string& advice);

// The start-up line: `port` as bound, and as the banner shows it where that
// differs; a few of the machine's `addresses` (nullopt where they could not
// be listed); the log file's full path.
std::string ListeningLine(
    std::uint16_t port,
    const std::optional<std::vector<std::string>>& addresses,
    std::string_view logPath);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_RUN_REPORT_H_
