#include "server/console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fake_platform.h"

namespace syslog_listen {
namespace {

// Hands a console that takes only `takes` bytes the banner and ten records,
// stops it, and reports how many it did not show; then ends the process.
[[noreturn]] void StopAfterTaking(std::size_t takes, bool terminal,
                                  bool shared) {
  fake::script = {
      .consoleTakes = takes, .terminal = terminal, .shared = shared};
  Console console;
  console.Start(514);
  const std::size_t banner[] = {7};
  console.Push("banner\n", banner);
  std::string records;
  std::vector<std::size_t> ends;
  for (int i = 0; i < 10; ++i) {
    char record[16];
    std::snprintf(record, sizeof record, "r%06d\n", i);
    records += record;
    ends.push_back(records.size());
  }
  console.Push(records, ends);
  // A console that stalls stalls until the writes are given up, after this.
  const auto now = std::chrono::steady_clock::now();
  console.StopRecords(now + std::chrono::milliseconds(100));
  console.Report("not shown " + std::to_string(console.NotShown()) + "\n");
  console.End(now + std::chrono::seconds(10));
  std::_Exit(0);
}

// A console that takes only so many bytes: at the stop, the records it took
// whole count as shown, and the one it took part of and every later one as
// not shown, the banner (7 bytes) never among them; ten records of 8 bytes
// in all. A terminal left inside a record gets its line ended: before the
// next report where they share it, else on the terminal itself. Run in a
// child, as the console's threads run to the end of the process.
TEST(Console, AtTheStopWhatTheConsoleTookWholeCountsAsShown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::size_t takes;
    bool terminal, shared;
    std::string errors;
  } cases[] = {{1000, false, false, "not shown 0\n"},
               {7 + 4 * 8 + 3, false, true, "not shown 6\n"},
               {7 + 4 * 8 + 3, true, true, "\nnot shown 6\n"},
               {7 + 4 * 8 + 3, true, false, "\\[console\\]\nnot shown 6\n"},
               {7 + 4 * 8, true, true, "not shown 6\n"},
               {3, false, false, "not shown 10\n"},
               {0, true, true, "not shown 10\n"}};
  for (const auto& c : cases) {
    EXPECT_EXIT(StopAfterTaking(c.takes, c.terminal, c.shared),
                testing::ExitedWithCode(0), "^" + c.errors + "$")
        << c.takes << " " << c.terminal << c.shared;
  }
}

}  // namespace
}  // namespace syslog_listen
