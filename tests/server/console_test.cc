#include "server/console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fake_platform.h"

namespace syslog_listen {
namespace {

// A console that takes `takes` bytes of the banner (7 bytes) and ten
// records of 8, then stalls until the stop; says what it did not show.
[[noreturn]] void StopAfterTaking(std::size_t takes, bool terminal,
                                  bool shared) {
  fake::script = {
      .consoleTakes = takes, .terminal = terminal, .shared = shared};
  Console console;
  console.Start(514);
  const std::size_t banner[] = {7};
  console.Push("banner\n", banner);
  std::vector<std::size_t> ends;
  for (std::size_t end = 8; end <= 80; end += 8) ends.push_back(end);
  console.Push(std::string(80, 'r'), ends);
  const auto now = std::chrono::steady_clock::now();
  console.StopRecords(now + std::chrono::milliseconds(100));
  console.Report("not shown " + std::to_string(console.NotShown()) + "\n");
  console.End(now + std::chrono::seconds(10));
  std::_Exit(0);
}

// The records taken whole count as shown, the one taken in part and every
// later one as not shown, the banner never. A terminal left inside a record
// gets its line ended: before the next report where they share it, else
// on itself. In a child: the console's threads run to the process's end.
TEST(Console, AtTheStopWhatTheConsoleTookWholeCountsAsShown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::size_t takes;
    bool terminal, shared;
    std::string errors;
  } cases[] = {{7 + 4 * 8 + 3, true, true, "\nnot shown 6\n"},
               {7 + 4 * 8 + 3, true, false, "\\[console\\]\nnot shown 6\n"},
               {7 + 4 * 8, true, true, "not shown 6\n"},
               {3, false, false, "not shown 10\n"}};
  for (const auto& c : cases) {
    EXPECT_EXIT(StopAfterTaking(c.takes, c.terminal, c.shared),
                testing::ExitedWithCode(0), "^" + c.errors + "$")
        << c.takes << " " << c.terminal << c.shared;
  }
}

}  // namespace
}  // namespace syslog_listen
