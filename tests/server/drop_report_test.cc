#include "server/drop_report.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "common/messages.h"
#include "platform/fake_platform.h"
#include "server/run_report.h"

namespace syslog_listen {
namespace {

using std::chrono::milliseconds;

std::string Line(std::uint64_t count) {
  return "syslog-listen: " + GroupedDecimal(count) +
         (count == 1 ? " datagram" : " datagrams") +
         " dropped by the system since start (receive queue full)\n";
}

std::string MachineLine(std::uint64_t count) {
  return "syslog-listen: " + GroupedDecimal(count) +
         (count == 1 ? " UDP datagram" : " UDP datagrams") +
         " dropped on this machine (all programs) while datagrams arrived "
         "here (receive queues full or other errors)\n";
}

TEST(DropReport, FirstGrowthAtOnceThenAtMostOnceASecond) {
  DropReport report;
  const auto t0 = DropReport::Clock::time_point{} + std::chrono::hours(1);
  report.Observe(0);
  EXPECT_FALSE(report.Pending());
  EXPECT_EQ("", report.LineIfDue(t0));
  EXPECT_EQ(-1, report.MillisecondsUntilDue(t0));

  report.Observe(1);
  EXPECT_EQ(0, report.MillisecondsUntilDue(t0));
  EXPECT_EQ(
      "syslog-listen: 1 datagram dropped by the system since start "
      "(receive queue full)\n",
      report.LineIfDue(t0));
  EXPECT_FALSE(report.Pending());

  // Growth within the second waits for it to pass, then reports the total.
  report.Observe(7);
  report.Observe(12);
  EXPECT_EQ(700, report.MillisecondsUntilDue(t0 + milliseconds(300)));
  EXPECT_EQ("", report.LineIfDue(t0 + milliseconds(300)));
  EXPECT_EQ(Line(12), report.LineIfDue(t0 + milliseconds(1000)));
  EXPECT_EQ("", report.LineIfDue(t0 + milliseconds(5000)));
}

TEST(DropReport, CountsAcrossAWrapOfTheSystemCounter) {
  DropReport report;
  const auto t0 = DropReport::Clock::time_point{} + std::chrono::hours(1);
  report.Observe(4294967290u);
  EXPECT_EQ(Line(4294967290u), report.LineIfDue(t0));
  report.Observe(4);  // wrapped: 10 more
  EXPECT_EQ(Line(4294967300ull), report.LineIfDue(t0 + milliseconds(1000)));
  // A count kept since before the start (the machine's) reports its growth.
  DropReport machine(DropScope::kMachine, 4294967290u);
  machine.Observe(4);
  EXPECT_EQ(MachineLine(10), machine.LineIfDue(t0));
}

// The machine's count holds every program's drops: what it grew by while
// nothing arrived here is not reported, at the stop neither, and a server
// that received nothing never reports any. The first report says why, where
// the system granted a smaller receive queue than asked for.
TEST(DropMonitor, MachineDropsOnlyWhileDatagramsArrive) {
  using std::chrono::hours;
  const auto t0 = DropMonitor::Clock::time_point{} + hours(1);
  fake::script = {.machineDrops = 100, .grantedQueue = 212992};
  DropMonitor quiet(0, t0);
  *fake::script.machineDrops += 4491299;
  EXPECT_TRUE(quiet.Check(t0 + hours(1)).empty());
  *fake::script.machineDrops += 7;
  EXPECT_TRUE(quiet.Finish().empty());
  EXPECT_EQ(0u, quiet.Dropped());

  DropMonitor drops(0, t0);
  *fake::script.machineDrops += 5000;  // while quiet, asked once a second
  EXPECT_EQ(1000, drops.MillisecondsUntilDue(t0));
  EXPECT_TRUE(drops.Check(t0 + hours(1)).empty());
  drops.Received({.bytes = "x", .size = 1}, false, false);
  *fake::script.machineDrops += 1;
  EXPECT_EQ(
      (std::vector{MachineLine(1), Fill(kSmallQueue, "212,992", "8,388,608")}),
      drops.Check(t0 + hours(2)));
  drops.Received({.bytes = "x", .size = 1}, false, false);
  *fake::script.machineDrops += 1233;
  EXPECT_EQ(std::vector{MachineLine(1234)}, drops.Finish());
  fake::script = {};
}

// Asked at most once a second while datagrams arrive, once more after they
// stop, and then not at all until they come again.
TEST(DropPoll, WhileTrafficFlowsAndOnceAfter) {
  const auto t0 = DropPoll::Clock::time_point{} + std::chrono::hours(1);
  DropPoll poll(t0);
  EXPECT_EQ(-1, poll.MillisecondsUntilDue(t0));
  poll.Traffic();
  EXPECT_FALSE(poll.Due(t0 + milliseconds(999)));
  EXPECT_EQ(1, poll.MillisecondsUntilDue(t0 + milliseconds(999)));
  EXPECT_TRUE(poll.Due(t0 + milliseconds(1000)));
  poll.Asked(t0 + milliseconds(1000));
  poll.Traffic();  // the last datagrams
  EXPECT_FALSE(poll.Due(t0 + milliseconds(1500)));
  EXPECT_TRUE(poll.Due(t0 + milliseconds(2000)));
  poll.Asked(t0 + milliseconds(2000));
  EXPECT_FALSE(poll.Due(t0 + std::chrono::hours(1)));
  EXPECT_EQ(-1, poll.MillisecondsUntilDue(t0 + std::chrono::hours(1)));
}

// What is known of the largest cut since the last report: its size where
// the system says it, its sender where the address is at hand (of a cut at
// a NUL, the first's); paced as the drops are.
TEST(CutReport, SaysWhatIsKnownOfTheLargest) {
  constexpr std::size_t kUnknown = Datagram::kUnknownSize;
  using Bytes = std::array<unsigned char, 4>;
  const auto a = std::bit_cast<std::uint32_t>(Bytes{10, 0, 0, 1});
  const auto b = std::bit_cast<std::uint32_t>(Bytes{10, 0, 0, 7});
  const std::string one = "1 datagram longer than 10000 bytes was";
  const std::string many = " datagrams longer than 10000 bytes were";
  const struct {
    std::vector<std::pair<std::size_t, std::optional<std::uint32_t>>> cuts;
    std::string head, known;
  } cases[] = {
      {{{65017, b}}, one, " (65017 bytes, from 10.0.0.7)"},
      {{{10001, a}, {65017, b}, {20000, {}}},
       "3" + many,
       " (the largest 65017 bytes, from 10.0.0.7)"},
      // Windows: no size.
      {{{kUnknown, a}, {kUnknown, b}},
       "2" + many,
       " (the first from 10.0.0.1)"},
      {{{kUnknown, {}}}, one, ""},
  };
  const auto t0 = CutReport::Clock::time_point{} + std::chrono::hours(1);
  for (const auto& c : cases) {
    CutReport report;
    for (const auto& [size, sender] : c.cuts) report.Cut(size, sender);
    EXPECT_EQ("syslog-listen: " + c.head + " recorded cut to the first 10000" +
                  c.known + "\n",
              report.LineIfDue(t0));
    report.Cut(10001, {});
    EXPECT_EQ(1000, report.MillisecondsUntilDue(t0)) << c.known;
  }
  CutReport nul(CutReport::Kind::kNul);
  nul.Cut(kUnknown, a);
  nul.Cut(kUnknown, b);
  EXPECT_EQ(
      "syslog-listen: 2 datagrams with a NUL byte were recorded up to the "
      "NUL, the rest left out (the first from 10.0.0.1)\n",
      nul.LineIfDue(t0));
}

}  // namespace
}  // namespace syslog_listen
