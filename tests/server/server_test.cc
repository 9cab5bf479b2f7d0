#include "server/server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_platform.h"

namespace syslog_listen {
namespace {

TEST(LogFileName, DefaultUsesTheSignedPort) {
  struct {
    std::int16_t port;
    const char* name;
    const char* expected;
  } cases[] = {{514, "", "syslog.514.log"},
               {600, "", "syslog.600.log"},
               {-25536, "", "syslog.-25536.log"},
               {-1, "", "syslog.-1.log"},
               {514, "logs/router.log", "logs/router.log"}};
  for (const auto& c : cases) {
    Settings settings;
    settings.port = c.port;
    settings.outputFileName = c.name;
    EXPECT_EQ(c.expected, LogFileName(settings));
  }
}

TEST(BannerText, SignedPortAndTimestampWithLineFeed) {
  EXPECT_EQ("syslog server(port:514) started on Mon Jun 02 09:05:07 2025\n",
            BannerText(514, "Mon Jun 02 09:05:07 2025"));
  EXPECT_EQ("syslog server(port:-25536) started on Tue Jun 03 00:00:00 2025\n",
            BannerText(-25536, "Tue Jun 03 00:00:00 2025"));
}

// Only a failure's end, on a console made for the process alone, with both
// the key and the line on it.
TEST(WaitsForKeyAtEnd, OnlyAFailureOnAConsoleOfItsOwn) {
  EXPECT_TRUE(WaitsForKeyAtEnd(1, {1, true, true}));
  for (const auto& [code, console] :
       std::vector<std::pair<int, ConsoleOwners>>{{0, {1, true, true}},
                                                  {6, {2, true, true}},
                                                  {6, {0, false, false}},
                                                  {6, {1, false, true}},
                                                  {6, {1, true, false}}}) {
    EXPECT_FALSE(WaitsForKeyAtEnd(code, console)) << code << console.processes;
  }
}

using Calls = std::vector<std::string>;

Startup StartWith(fake::Script script, std::int16_t port = -25536) {
  fake::script = std::move(script);
  Settings settings;
  settings.port = port;
  return StartServer(settings);
}

// Each step runs only after the one before it succeeded, the log file
// first, and a failure reports its own message and exit code.
TEST(StartServer, StepsInOrderStoppingAtTheFirstFailure) {
  struct {
    fake::Script script;
    std::string failure;
    int exitCode;
    Calls calls;
  } cases[] = {
      {{}, "", 0, {"open syslog.-25536.log", "start", "socket", "bind 40000"}},
      {{.openLog = false},
       "failed to open file : syslog.-25536.log for writing\n",
       4,
       {"open syslog.-25536.log"}},
      // A failed socket start-up is not reported as success (exit 0).
      {{.startSockets = false},
       "Winsock init error\n",
       3,
       {"open syslog.-25536.log", "start"}},
      {{.openSocket = false},
       "open socket error\n",
       5,
       {"open syslog.-25536.log", "start", "socket"}},
      {{.bind = false},
       "bind to port: -25536 error\n",
       6,
       {"open syslog.-25536.log", "start", "socket", "bind 40000"}},
  };
  for (const auto& c : cases) {
    const Startup startup = StartWith(c.script);
    EXPECT_EQ(c.failure, startup.failure) << c.failure;
    EXPECT_EQ(c.failure.empty(), startup.started()) << c.failure;
    if (!c.failure.empty()) {
      EXPECT_EQ(c.exitCode, startup.exitCode) << c.failure;
    }
    EXPECT_EQ(c.calls, fake::script.calls) << c.failure;
  }
}

// With nothing received, even the first wait ends when the hint is due, a
// minute after the start; a stop gives no hint. The start-up line comes from
// a thread of its own, at any point before the stop.
TEST(RunServer, TheFirstWaitEndsWhenTheHintIsDue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string listening = "(syslog-listen: listening [^\n]*\n)?";
  EXPECT_EXIT(RunServer(Settings{}), testing::ExitedWithCode(0),
              "^" + listening + "wait (59[0-9]{3}|60000)\n" + listening +
                  "wait 0\n" + listening + "syslog-listen: stopped");
}

// A batch's drops are reported before what writing the batch brings.
TEST(RunServer, ABatchsDropsComeBeforeItsWrite) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  fake::script = {.machineDrops = 0u, .firstBatch = 3};
  EXPECT_EXIT(RunServer(Settings{}), testing::ExitedWithCode(0),
              " 5 UDP datagrams dropped .*\n.*the disk is full");
}

}  // namespace
}  // namespace syslog_listen
