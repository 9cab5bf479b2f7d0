// End-to-end: the live view, syslog-listen-view, on the file a server writes
// with -t. It shows the last records, then each new one on a line of its
// own, coloured by severity on a terminal, in order, and goes on past a
// rename of the file: on Windows one made by another program while the
// view holds the file open, which its sharing must allow.
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

// The console's text without the title's sequences (push, set, pop); the
// last title set goes to `title`.
std::string WithoutTitles(std::string text, std::string* title) {
  for (const std::string stack : {"\x1b[22;2t", "\x1b[23;2t"}) {
    for (std::size_t at; (at = text.find(stack)) != text.npos;) {
      text.erase(at, stack.size());
    }
  }
  for (std::size_t at; (at = text.find("\x1b]2;")) != text.npos;) {
    const std::size_t end = text.find('\a', at);
    if (end == text.npos) break;
    *title = text.substr(at + 4, end - at - 4);
    text.erase(at, end + 1 - at);
  }
  return text;
}

// Native: on a terminal, with colours and a title; `mv`. Windows: through a
// pipe, plain; `ren`.
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
  std::vector<std::string> command = {"env", "TERM=xterm", "NO_COLOR="};
  for (const std::string& word : ViewCommand({"test.log"})) {
    command.push_back(word);
  }
  ChildProcess view(command, run.dir(),
                    terminal ? Stdout::kTerminal : Stdout::kPipe, "view.");
  std::string title;
  std::string shown;
  const auto showsAll = [&] {
    return WaitUntil([&] {
      shown = MaskTimestamps(WithoutTitles(view.ConsoleText(), &title));
      return shown == OnDisk(expected);
    });
  };
  EXPECT_TRUE(showsAll()) << Mismatch(OnDisk(expected), shown);

  const struct {
    int priority;
    const char* severity;
    const char* colour;
  } sent[] = {{11, "error", "\x1b[31m"},
              {12, "warning", "\x1b[33m"},
              {14, "info", ""},
              {15, "debug", "\x1b[2m"}};
  for (const auto& s : sent) {
    const std::string body = std::string(s.severity) + " record";
    run.SendPaced(std::string(1, '<')
                      .append(std::to_string(s.priority))
                      .append(">")
                      .append(body));
    add(Shown(s.severity, body, terminal ? s.colour : ""));
  }
  EXPECT_TRUE(showsAll()) << Mismatch(OnDisk(expected), shown);
  // The title, set after the records, counts them all.
  if (terminal) {
    EXPECT_TRUE(WaitUntil([&] {
      WithoutTitles(view.ConsoleText(), &title);
      return title == "syslog-listen-view \u00b7 24 records \u00b7 test.log";
    })) << title;
  }

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

  // Ctrl+C: the last line ended, the title given back.
  view.Signal(SIGINT);
  EXPECT_TRUE(view.WaitForStatus().has_value());
  EXPECT_EQ(OnDisk(expected + "\n"),
            MaskTimestamps(WithoutTitles(view.ConsoleText(), &title)));
  if (terminal) {
    EXPECT_TRUE(view.ConsoleText().ends_with("\x1b[23;2t"));
  }
  // Then, unless the server made the new file before the view looked,
  // that the name was lost for a while.
  EXPECT_TRUE(view.ErrorText().starts_with(
      OnDisk("syslog-listen-view: showing test.log\n")))
      << view.ErrorText();
}

}  // namespace
}  // namespace e2e
