#include "common/shell_word.h"

#include <gtest/gtest.h>

namespace syslog_listen {
namespace {

TEST(ShellWord, QuotedOnlyWhereTheShellWouldSplitOrExpand) {
  struct {
    const char* text;
    const char* word;
  } cases[] = {
      {"/usr/bin/syslog-listen", "/usr/bin/syslog-listen"},
      {"/opt/my tools/syslog-listen", "'/opt/my tools/syslog-listen'"},
      {"/opt/it's", "'/opt/it'\\''s'"},
      {"", "''"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.word, ShellWord(c.text)) << c.text;
}

}  // namespace
}  // namespace syslog_listen
