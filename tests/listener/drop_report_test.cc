#include "listener/drop_report.h"

#include <gtest/gtest.h>

namespace syslog_listen {
namespace {

using std::chrono::milliseconds;

std::string Line(std::uint64_t count) {
  return "syslog-listen: " + std::to_string(count) +
         " datagrams dropped by the system since start (receive queue full)\n";
}

TEST(DropReport, FirstGrowthAtOnceThenAtMostOnceASecond) {
  DropReport report;
  const auto t0 = DropReport::Clock::time_point{} + std::chrono::hours(1);
  report.Observe(0);
  EXPECT_FALSE(report.Pending());
  EXPECT_EQ("", report.Take(t0));
  EXPECT_EQ(-1, report.MillisecondsUntilDue(t0));

  report.Observe(5);
  EXPECT_EQ(0, report.MillisecondsUntilDue(t0));
  EXPECT_EQ(Line(5), report.Take(t0));
  EXPECT_FALSE(report.Pending());

  // Growth within the second waits for it to pass, then reports the total.
  report.Observe(7);
  report.Observe(12);
  EXPECT_EQ(700, report.MillisecondsUntilDue(t0 + milliseconds(300)));
  EXPECT_EQ("", report.Take(t0 + milliseconds(300)));
  EXPECT_EQ(Line(12), report.Take(t0 + milliseconds(1000)));
  EXPECT_EQ("", report.Take(t0 + milliseconds(5000)));
}

TEST(DropReport, CountsAcrossAWrapOfTheSystemCounter) {
  DropReport report;
  const auto t0 = DropReport::Clock::time_point{} + std::chrono::hours(1);
  report.Observe(4294967290u);
  EXPECT_EQ(Line(4294967290u), report.Take(t0));
  report.Observe(4);  // wrapped: 10 more
  EXPECT_EQ(Line(4294967300ull), report.Take(t0 + std::chrono::seconds(1)));
  // A count kept since before the start (the machine's) reports its growth.
  DropReport machine(kMachineDrops, 4294967290u);
  machine.Observe(4);
  EXPECT_EQ(
      "syslog-listen: 10 UDP datagrams dropped on this machine since start "
      "(receive queues full or other errors)\n",
      machine.Take(t0));
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

}  // namespace
}  // namespace syslog_listen
