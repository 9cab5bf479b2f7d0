#include "server/run_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace syslog_listen {
namespace {

using std::chrono::seconds;

TEST(RunReport, NumbersAndDurationsForReading) {
  const std::pair<std::uint64_t, const char*> numbers[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}};
  for (const auto& [value, text] : numbers) {
    EXPECT_EQ(text, GroupedDecimal(value));
  }
  const std::pair<seconds, const char*> durations[] = {
      {seconds(0), "0 s"},
      {seconds(45), "45 s"},
      {seconds(725), "12 min 5 s"},
      {seconds(10800), "3 h 0 min"},
      {seconds(356400), "4 d 3 h"}};
  for (const auto& [length, text] : durations) {
    EXPECT_EQ(text, DurationText(length)) << length.count();
  }
}

// Once, a minute after the start, and never once a datagram has come.
TEST(RunReport, TheQuietHintComesOnceAndOnlyWhenNothingArrived) {
  const auto start = QuietHint::Clock::time_point{} + std::chrono::hours(1);
  QuietHint hint(start);
  EXPECT_EQ(60000, hint.MillisecondsUntilDue(start));
  EXPECT_FALSE(hint.Due(start + seconds(59)));
  EXPECT_TRUE(hint.Due(start + seconds(60)));
  EXPECT_FALSE(hint.Due(start + seconds(61)));
  EXPECT_EQ(-1, hint.MillisecondsUntilDue(start + seconds(61)));
  QuietHint heard(start);
  heard.Received();
  EXPECT_FALSE(heard.Due(start + seconds(60)));
  EXPECT_EQ(-1, heard.MillisecondsUntilDue(start));
}

// The port as bound, and as the banner shows it where that differs; three
// addresses at most, or why there are none; the path as a terminal shows it.
TEST(RunReport, TheStartUpLineSaysWhereToSendAndWhereRecordsGo) {
  const std::string head = "syslog-listen: listening on UDP port ";
  EXPECT_EQ(
      head +
          "42514 (shown as -23022) on a, b, c and 2 more; records go "
          "to C:\\Logs\\syslog.-23022.log\n",
      ListeningLine(42514, std::vector<std::string>{"a", "b", "c", "d", "e"},
                    "C:\\Logs\\syslog.-23022.log"));
  EXPECT_EQ(head +
                "514 on every address (they could not be listed); records "
                "go to /a^[[2J.log\n",
            ListeningLine(514, std::nullopt, "/a\x1b[2J.log"));
}

TEST(RunReport, HintAccountAndTitleSayWhatApplies) {
  const std::string head =
      "syslog-listen: nothing received on UDP port 514 in the first minute; "
      "senders must send to one of this machine's addresses (";
  const std::string tail = "), and a firewall may be in the way!\n";
  EXPECT_EQ(head + "it has none but loopback" + tail,
            NothingReceivedLine(514, std::vector<std::string>{}, "!"));
  EXPECT_EQ(head + "they could not be listed" + tail,
            NothingReceivedLine(514, std::nullopt, "!"));
  const std::vector<std::string> many = {"a", "b", "c", "d",
                                         "e", "f", "g", "h"};
  EXPECT_EQ(head + "a, b, c, d, e, f and 2 more" + tail,
            NothingReceivedLine(514, many, "!"));

  EXPECT_EQ("syslog-listen :514 \u00b7 1,234 received",
            TitleText({.port = 514, .received = 1234}));
  EXPECT_EQ(
      "syslog-listen :514 \u00b7 9 received \u00b7 3 dropped on this machine "
      "\u00b7 2 senders",
      TitleText({.port = 514,
                 .received = 9,
                 .dropped = 3,
                 .machine = true,
                 .senders = 2}));

  RunTally tally;
  tally.Datagram(1000);
  EXPECT_EQ(
      "syslog-listen: stopped after 5 s; received 1 datagram (1,000 "
      "bytes)\n",
      tally.Account(seconds(5), {}));
  tally.Sender(1);
  tally.Sender(1);
  EXPECT_EQ(
      "syslog-listen: stopped after 5 s; received 1 datagram (1,000 bytes); "
      "1 record not shown on the console; from 1 sender\n",
      tally.Account(seconds(5), {.notShown = 1}));
  tally.Datagram(1);
  tally.Sender(2);
  EXPECT_EQ(
      "syslog-listen: stopped after 5 s; received 2 datagrams (1,001 "
      "bytes); 7 dropped by the system; 2 recorded cut to 10000 bytes; 1 "
      "recorded up to a NUL byte; 3,000 records not shown on the console; "
      "from 2 senders\n",
      tally.Account(seconds(5),
                    {.dropped = 7, .cut = 2, .nulCut = 1, .notShown = 3000}));
}

}  // namespace
}  // namespace syslog_listen
