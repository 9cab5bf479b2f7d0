#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace syslog_listen {
namespace {

CommandLine Parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv(args);
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::string Describe(std::initializer_list<const char*> args) {
  std::string text;
  for (const char* arg : args) text.append("[").append(arg).append("]");
  return text;
}

const std::string kTail = "Use: prog -h to get help information\n";

TEST(ParseCommandLine, ErrorsPrintMessageThenTailAndExit1) {
  struct Case {
    std::initializer_list<const char*> args;
    std::string output;
  } cases[] = {
      {{"prog", "-x"}, "Invalid Option:-x\n" + kTail},
      {{"prog", "-p514"}, "Invalid Option:-p514\n" + kTail},
      {{"prog", "--"}, "Invalid Option:--\n" + kTail},
      {{"prog", "-"}, "Invalid Option:-\n" + kTail},
      {{"prog", "-tt"}, "Invalid Option:-tt\n" + kTail},
      {{"prog", "-%n%s"}, "Invalid Option:-%n%s\n" + kTail},
      {{"prog", "-o"}, "no filename specified after -o option\n" + kTail},
      {{"prog", "-t", "-P"}, "no port # specified after -p option\n" + kTail},
      {{"prog", "-p", "65536"}, "invalid port #:65536\n" + kTail},
      {{"prog", "-p", "0"}, "invalid port #:0\n" + kTail},
      {{"prog", "-p", "abc"}, "invalid port #:abc\n" + kTail},
      {{"prog", "-p", "0x10"}, "invalid port #:0x10\n" + kTail},
      {{"prog", "-p", ""}, "invalid port #:\n" + kTail},
      // -p consumes -t as its value, which converts to 0.
      {{"prog", "-p", "-t"}, "invalid port #:-t\n" + kTail},
      // The first error ends the scan: -h is never seen.
      {{"prog", "-x", "-h"}, "Invalid Option:-x\n" + kTail},
      // The program name is echoed exactly as given.
      {{"./bin/sys log", "-q"},
       "Invalid Option:-q\nUse: ./bin/sys log -h to get help information\n"},
  };
  for (const auto& c : cases) {
    const CommandLine result = Parse(c.args);
    EXPECT_EQ(c.output, result.output) << Describe(c.args);
    EXPECT_EQ(1, result.exitCode) << Describe(c.args);
  }
}

TEST(ParseCommandLine, HelpPrintsUsageAndStopsTheScan) {
  for (auto args : {std::initializer_list<const char*>{"prog", "-h"},
                    {"prog", "-H"},
                    {"prog", "-h", "-x"},
                    {"prog", "-t", "-h", "-o"}}) {
    const CommandLine result = Parse(args);
    EXPECT_EQ(UsageText("prog"), result.output) << Describe(args);
    EXPECT_EQ(1, result.exitCode) << Describe(args);
  }
}

TEST(ParseCommandLine, SettingsFromValidArguments) {
  struct Case {
    std::initializer_list<const char*> args;
    std::int16_t port;
    std::string fileName;
    bool annotate;
  } cases[] = {
      {{"prog"}, 514, "", false},
      {{}, 514, "", false},  // not even a program name
      {{"prog", "-P", "600", "-T"}, 600, "", true},
      {{"prog", "foo", "-t", "bar", ""}, 514, "", true},
      // The value after -o is consumed even when it looks like an option.
      {{"prog", "-o", "-t"}, 514, "-t", false},
      {{"prog", "-o", "a.log", "-o", ""}, 514, "", false},
      {{"prog", "-O", "a.log", "-o", "b.log"}, 514, "b.log", false},
      {{"prog", "-p", "1", "-p", "2"}, 2, "", false},
      {{"prog", "-t", "-t"}, 514, "", true},
      // Port arithmetic: low 16 bits, read signed.
      {{"prog", "-p", "70000"}, 4464, "", false},
      {{"prog", "-p", "-1"}, -1, "", false},
      {{"prog", "-p", "40000"}, -25536, "", false},
      {{"prog", "-p", "514abc"}, 514, "", false},
      {{"prog", "-p", "  80"}, 80, "", false},
      {{"prog", "-p", "4294967297"}, 1, "", false},
  };
  for (const auto& c : cases) {
    const CommandLine result = Parse(c.args);
    EXPECT_EQ(CommandLine::kRun, result.exitCode) << Describe(c.args);
    EXPECT_EQ("", result.output) << Describe(c.args);
    EXPECT_EQ(c.port, result.settings.port) << Describe(c.args);
    EXPECT_EQ(c.fileName, result.settings.outputFileName) << Describe(c.args);
    EXPECT_EQ(c.annotate, result.settings.annotate) << Describe(c.args);
  }
}

// Each word skipped gets a note, with -p for one that names a port the
// server will not listen on anyway, and -h for one that asks for help the
// Windows way, up to where the scan ends; option values are no such words.
// A -p value that does not read as the port it gives is said after them.
TEST(ParseCommandLine, SkippedWordsAndOddPortsGetNotes) {
  const auto noted = [](std::string word, std::string tail = "") {
    return "syslog-listen: " + word + " is not an option and was ignored" +
           tail + "\n";
  };
  const std::string advice = "; to listen on it: -p ";
  const std::string help = "; -h shows the options";
  const struct {
    std::initializer_list<const char*> args;
    std::vector<std::string> notes;
  } cases[] = {
      {{"prog", "43610", "-t", "foo", "", "-o", "1", "0", "65536",
        "99999999999", "5x", "-x", "1"},
       {noted("43610", advice + "43610"), noted("foo"), noted("0"),
        noted("65536"), noted("99999999999"), noted("5x")}},
      // -h: it listens nowhere.
      {{"prog", "600", "/?", "-h", "x"},
       {noted("600", advice + "600"), noted("/?", help)}},
      // Only the last -p counts; white space, a sign and zeros in front
      // change nothing.
      {{"prog", "Help", "-p", "-1", "-p", "514abc"},
       {noted("Help", help),
        "syslog-listen: -p 514abc is taken as UDP port 514\n"}},
      {{"prog", "-p", "70000", "-p", " +0514"}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.notes, Parse(c.args).notes) << Describe(c.args);
  }
}

TEST(ParseCommandLine, LongFileNameIsKeptWhole) {
  const std::string name(5000, 'n');
  const CommandLine result = Parse({"prog", "-o", name.c_str()});
  EXPECT_EQ(name, result.settings.outputFileName);
}

TEST(UsageText, FiveLinesWithDescriptionsInColumn19) {
  const std::string text = UsageText("syslog-listen");
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ("Usage: syslog-listen [-p port] [-o filename] [-t] [-h]", line);
  int options = 0;
  while (std::getline(lines, line)) {
    ++options;
    ASSERT_GT(line.size(), 18u) << line;
    EXPECT_EQ("  -", line.substr(0, 3)) << line;
    EXPECT_EQ(' ', line[17]) << line;
    EXPECT_NE(' ', line[18]) << line;
  }
  EXPECT_EQ(4, options);
  EXPECT_EQ('\n', text.back());
}

}  // namespace
}  // namespace syslog_listen
