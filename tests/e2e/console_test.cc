// End-to-end: the console. A terminal gets control characters escaped,
// colours and a title; a console that falls behind or stalls costs the
// file, the reports and a stop nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/counts.h"
#include "support/harness.h"

namespace e2e {
namespace {

// Only a terminal gets a message's control characters escaped (in the forms
// the record's unit tests show), record by record, and each record on a
// line of its own; a pipe gets the raw bytes, records running together, as
// the log file always does.
TEST(Console, ControlCharactersReachATerminalOnlyEscaped) {
  // No line ends; the last two would make a CSI between them, and the last
  // is one alone to a terminal that takes 8-bit controls.
  const std::string sent[] = {"<13>\x1b]0;owned\x07\x1b[2Jhi\x7f", "A\xc2",
                              "\x9b"
                              "31mRED"};
  const std::string raw =
      "\x1b]0;owned\x07\x1b[2Jhi\x7f"
      "A\xc2\x9b"
      "31mRED";
  const std::string escaped = "^[]0;owned^G^[[2Jhi^?\nA\\xC2\n\\x9B31mRED\n";
  for (Stdout console : {Stdout::kPipe, Stdout::kTerminal}) {
    // A pseudo-terminal is no Windows console.
    if (console == Stdout::kTerminal && WindowsServer()) continue;
    Running run({}, console);
    for (const std::string& datagram : sent) run.Send(datagram);
    const std::string banner = Banner(run.port());
    const std::string shown =
        OnDisk(banner + (console == Stdout::kTerminal ? escaped : raw));
    std::string consoleText;
    EXPECT_TRUE(WaitUntil([&] {
      return (consoleText = MaskTimestamps(run.server().ConsoleText())) ==
             shown;
    })) << static_cast<int>(console)
        << ": " << consoleText;
    EXPECT_EQ(
        OnDisk(banner + raw),
        MaskTimestamps(WaitForSize(run.log(), RealSize(OnDisk(banner + raw)))));
  }
}

// On a terminal that shows colours, a record with a header has its
// severity's colour, reset before its line end; one without a header, or
// informational, has none. The title counts what arrived, and goes back to
// the user's at the end. NO_COLOR, or a pipe, gets no colour; a pipe no
// title; the file never either.
TEST(Console, ATerminalShowsSeverityColoursAndCountsInItsTitle) {
  if (WindowsServer()) GTEST_SKIP() << "wine's console renders them itself";
  // A second stop signal, which ends the server at once, still gives the
  // title back: both arrive together.
  const struct {
    Stdout console;
    const char* noColour;
    bool coloured;
    std::vector<int> signals;
  } cases[] = {{Stdout::kTerminal, "NO_COLOR=", true, {SIGTERM}},
               {Stdout::kTerminal, "NO_COLOR=1", false, {SIGINT, SIGTERM}},
               {Stdout::kPipe, "NO_COLOR=", false, {SIGTERM}}};
  for (const auto& c : cases) {
    Running run({}, c.console, {"env", "TERM=xterm", c.noColour});
    ChildProcess& server = run.server();
    run.Send("<11>boom\n");
    run.Send("<14>fine\n");
    const bool titled = c.console == Stdout::kTerminal;
    const std::string title =
        "\x1b]2;syslog-listen :" + std::to_string(run.port()) +
        " \u00b7 2 received\a";
    const std::string records =
        c.coloured ? "\x1b[31mboom\x1b[0m\nfine\n" : "boom\nfine\n";
    std::string shown;
    EXPECT_TRUE(WaitUntil([&] {
      shown = server.ConsoleText();
      return shown.find(records) != std::string::npos &&
             (!titled || shown.find(title) != std::string::npos);
    })) << c.noColour
        << ": " << shown;
    server.Signal(SIGSTOP);
    for (const int signal : c.signals) server.Signal(signal);
    server.Signal(SIGCONT);
    EXPECT_TRUE(server.WaitForStatus().has_value());
    shown = server.ConsoleText();
    EXPECT_EQ(titled, shown.ends_with("\x1b[23;2t")) << shown;
    if (!titled) {
      EXPECT_EQ(std::string::npos, shown.find('\x1b')) << shown;
    }
    EXPECT_EQ(Banner(run.port()) + "boom\nfine\n",
              MaskTimestamps(ReadFile(run.log())));
  }
}

// A console that nobody reads (a paused pager, say) costs the file nothing:
// it gets every record, in order, once. Read again, the console shows the
// records from before the gap, then, at that point of the stream, the notice
// on standard error (which shares the pipe, as with 2>&1) with the number it
// skipped, then the records that came later.
TEST(Console, AConsoleNobodyReadsCostsTheFileNothing) {
  Running run({}, Stdout::kPipeWithErrors);
  constexpr int kCount = 4000;  // of 10000 bytes: more than the console queues
  const auto record = [](int i) {
    return std::string(9992, '.') + Numbered('c', i);
  };
  std::string records;
  for (int i = 0; i < kCount; ++i) {
    records += record(i);
    run.SendPaced(record(i));
  }
  const std::string banner = Banner(run.port());
  const std::string file = OnDisk(banner + records);
  EXPECT_EQ(
      "",
      Mismatch(file, MaskTimestamps(WaitForSize(run.log(), RealSize(file)))));
  const bool measurable = !Launched() && !Sanitized();
  if (measurable) {
    EXPECT_LT(ResidentKiB(run.server().pid()), 38 * 1024);
  }

  const std::string notice =
      " records not shown on the console (it fell behind); the log file has "
      "them all\n";
  // Polled raw, and only what came since the last look: copying or
  // scanning megabytes on every poll would slow the reading.
  std::size_t from = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const std::string& shown = run.server().ConsoleText();
    const bool found = shown.find(OnDisk(notice), from) != std::string::npos;
    from = shown.size() > 1024 ? shown.size() - 1024 : 0;
    return found;
  })) << from
      << " bytes on the console";
  std::string console = WithoutMachineLines(run.server().ConsoleText());
  const std::size_t recordsShown =
      (console.find("syslog-listen: ") - RealSize(OnDisk(banner))) /
      OnDisk(record(0)).size();
  EXPECT_GT(recordsShown, 0u);
  EXPECT_LT(recordsShown, static_cast<std::size_t>(kCount));
  // Caught up, the server has handed the backlog's memory back.
  if (measurable) {
    EXPECT_LT(ResidentKiB(run.server().pid()), 4 * 1024);
  }
  run.Send("later\n");
  const std::string expected = OnDisk(
      banner + records.substr(0, recordsShown * record(0).size()) +
      "syslog-listen: " + syslog_listen::GroupedDecimal(kCount - recordsShown) +
      notice + "later\n");
  EXPECT_TRUE(WaitUntil([&] {
    console = WithoutMachineLines(run.server().ConsoleText());
    return console.size() >= RealSize(expected);
  }));
  EXPECT_EQ("", Mismatch(expected, MaskTimestamps(console)));
}

// A console that takes nothing more (Ctrl+S, a frozen ssh session, a pager
// waiting for a key), with a title to give back and standard error on it
// too or not, holds up a stop by no more than about a second, and holds up
// no report: the account on standard error counts exactly the records the
// console did not get whole, the one it was writing at the stop included.
TEST(Console, AStopIsBoundedWhateverTheConsoleDoes) {
  for (Stdout console :
       {Stdout::kTerminalWithErrors, Stdout::kTerminal, Stdout::kPipe}) {
    // A pseudo-terminal is no Windows console.
    if (WindowsServer() && console != Stdout::kPipe) continue;
    Running run({}, console, {"env", "TERM=xterm"});
    ChildProcess& server = run.server();
    constexpr int kCount = 3000;  // far more than the console holds
    std::string records;
    for (int i = 0; i < kCount; ++i) {
      records += std::string(92, '.') + Numbered('s', i);
      run.SendPaced(records.substr(records.size() - 100));
    }
    WaitForSize(run.log(), RealSize(OnDisk(Banner(run.port()) + records)));
    server.Signal(WindowsServer() ? SIGINT : SIGTERM);
    ASSERT_TRUE(server.WaitForStatus().has_value()) << "still running";
    if (console == Stdout::kTerminalWithErrors) continue;
    // Whole records end their lines, "...s000042": the line end that ends
    // a record cut short at the end does not make it one.
    const std::string shown = server.ConsoleText();
    int whole = 0;
    for (std::size_t at = 0;
         (at = shown.find(OnDisk(std::string(92, '.') + Numbered('s', whole)),
                          at)) != std::string::npos;
         ++whole) {
    }
    const std::string account = server.Reports();
    const std::size_t end = account.find(" records not shown");
    ASSERT_NE(std::string::npos, end) << account;
    const std::size_t start = account.rfind(' ', end - 1) + 1;
    std::string digits = account.substr(start, end - start);
    std::erase(digits, ',');
    // Wine cannot break a pipe's write off, and valgrind may keep the
    // writer from saying in time what it wrote: that one counts as not shown.
    const long sum = whole + std::stol(digits);
    EXPECT_TRUE(Launched() ? sum >= kCount : sum == kCount) << account;
  }
}

}  // namespace
}  // namespace e2e
