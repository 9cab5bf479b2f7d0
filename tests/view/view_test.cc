#include "view/view.h"

#include <gtest/gtest.h>

#include "common/view_messages.h"

namespace syslog_listen {
namespace {

TEST(ParseViewCommand, OneFileAfterTheOptions) {
  const std::string tail = Fill(kErrorTail, "v");
  const struct {
    std::vector<std::string> arguments;
    std::string file;
    int exitCode;
    std::string output;
  } cases[] = {
      {{"v"}, "", ViewCommand::kRun, ""},
      {{"v", "a.log"}, "a.log", ViewCommand::kRun, ""},
      {{"v", "--", "-h"}, "-h", ViewCommand::kRun, ""},
      {{"v", "a.log", "-h"}, "", 0, Fill(kViewUsage, "v", ServiceLogFolder())},
      {{"v", "-x", "a.log"}, "", 1, "Invalid Option:-x\n" + tail},
      {{"v", "a.log", "b.log"},
       "a.log",
       1,
       Fill(kViewSecondFile, "b.log") + tail},
  };
  for (const auto& c : cases) {
    const ViewCommand command = ParseViewCommand(c.arguments);
    EXPECT_EQ(c.exitCode, command.exitCode) << c.arguments.back();
    EXPECT_EQ(c.output, command.output) << c.arguments.back();
    if (c.exitCode == ViewCommand::kRun) {
      EXPECT_EQ(c.file, command.file);
    }
  }
}

TEST(NewestServiceLog, TheLastWrittenOfTheServersNames) {
  const FolderEntry entries[] = {{"syslog.514.log", "d/syslog.514.log", 5},
                                 {"syslog.5514.log", "d/syslog.5514.log", 7},
                                 {"syslog.5514.log.1", "d/x", 9},
                                 {"syslog..log", "d/y", 9},
                                 {"other.log", "d/z", 9}};
  EXPECT_EQ("d/syslog.5514.log", NewestServiceLog(entries));
  EXPECT_EQ(std::nullopt, NewestServiceLog(std::span(entries).subspan(2)));
}

}  // namespace
}  // namespace syslog_listen
