// End-to-end: the live view on the file a server writes with -t, past a
// rename of it: on Windows one made by another program while the view
// holds the file open, which its sharing must allow.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// A record from the test's sender as the view shows it, its time masked: in
// `colour` up to the line end that the view adds.
std::string Shown(const std::string& severity, const std::string& body,
                  const std::string& colour = "") {
  const std::string text =
      "<time> <fac:user level, svt:" + severity + "> from 127.0.0.1\n>>" + body;
  return colour.empty() ? text : colour + text + "\x1b[0m";
}

// The last records, then each new one on a line of its own, in order.
// Native: on a terminal, coloured (untitled: no xterm); `mv`. Windows:
// through a pipe, plain; `ren`.
TEST(View, ShowsRecordsOnePerLineColouredAndFollowsARename) {
  const bool terminal = !WindowsServer();  // a pseudo-terminal is no console
  Running run({"-t"});
  std::string expected;
  const auto add = [&](const std::string& record) {
    if (!expected.empty()) expected += '\n';
    expected += record;
  };
  for (int i = 0; i < 22; ++i) {
    std::string body = Numbered('n', i);
    body.pop_back();  // no line end: the view adds one
    run.SendPaced("<13>" + body);
    if (i >= 2) add(Shown("notice", body));  // the last 20
  }
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(run.log()).find("n000021") != std::string::npos;
  }));
  std::vector<std::string> command = {"env", "TERM=vt100", "NO_COLOR="};
  for (const std::string& word : ViewCommand({"test.log"})) {
    command.push_back(word);
  }
  ChildProcess view(command, run.dir(),
                    terminal ? Stdout::kTerminal : Stdout::kPipe, "view.");
  std::string shown;
  const auto showsAll = [&] {
    return WaitUntil([&] {
      return (shown = MaskTimestamps(view.ConsoleText())) == OnDisk(expected);
    });
  };
  EXPECT_TRUE(showsAll()) << Mismatch(OnDisk(expected), shown);

  const struct {
    std::string header, severity, colour;
  } sent[] = {{"<11>", "error", "\x1b[31m"},
              {"<12>", "warning", "\x1b[33m"},
              {"<14>", "info", ""},
              {"<15>", "debug", "\x1b[2m"}};
  for (const auto& s : sent) {
    run.SendPaced(s.header + s.severity);
    add(Shown(s.severity, s.severity, terminal ? s.colour : ""));
  }
  EXPECT_TRUE(showsAll()) << Mismatch(OnDisk(expected), shown);

  // Renamed: the records the server writes meanwhile, to the old file
  // until it looks at the name again, then to the new file it makes there.
  if (WindowsServer()) {
    ASSERT_EQ(0,
              RunToEnd(Launch({"cmd", "/c", "ren", "test.log", "test.log.1"}),
                       run.dir()));
  } else {
    std::filesystem::rename(run.log(), run.dir() / "test.log.1");
  }
  ASSERT_TRUE(std::filesystem::exists(run.dir() / "test.log.1"));
  run.SendPaced("<13>before the server looked");
  std::this_thread::sleep_for(1100ms);
  run.SendPaced("<13>in the new file");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(run.log()).find("in the new file") != std::string::npos;
  }));
  add(Shown("notice", "before the server looked"));
  add(Shown("notice", "in the new file"));
  EXPECT_TRUE(showsAll()) << Mismatch(OnDisk(expected), shown);

  // Ctrl+C: the last line ended.
  view.Signal(SIGINT);
  EXPECT_TRUE(view.WaitForStatus().has_value());
  EXPECT_EQ(OnDisk(expected + "\n"), MaskTimestamps(view.ConsoleText()));
  // Its first line on standard error names the file.
  EXPECT_TRUE(view.ErrorText().starts_with(
      OnDisk("syslog-listen-view: showing test.log\n")))
      << view.ErrorText();
}

// A reader that has gone (`| head -c 1`) ends the view, even while no
// record comes for it to write.
TEST(View, EndsWhenItsReaderHasGone) {
  if (WindowsServer()) GTEST_SKIP() << "a POSIX shell's pipe";
  Running run({"-t"});
  std::vector<std::string> command = {"sh", "-c", "\"$@\" | head -c 1", "sh"};
  for (const std::string& word : ViewCommand({"test.log"})) {
    command.push_back(word);
  }
  ChildProcess view(command, run.dir(), Stdout::kPipe, "view.");
  EXPECT_EQ(0, view.WaitForStatus());
  EXPECT_EQ("s", view.ConsoleText());
}

}  // namespace
}  // namespace e2e
