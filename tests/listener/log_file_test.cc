#include "listener/log_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "listener/fake_platform.h"

namespace syslog_listen {
namespace {

std::string Full() {
  return "syslog-listen: the disk is full: cannot write to the log file x.log; "
         "records wait in memory until there is room\n";
}

// A disk that fills in the middle of a record: the rest waits and goes
// first once there is room, so the file gets every record whole and in
// order; beyond what memory holds, records are lost whole and counted.
TEST(LogFile, AFullDiskKeepsRecordsWhole) {
  fake::script = {.fileRoom = 5};
  std::FILE* handle = std::tmpfile();
  ASSERT_NE(nullptr, handle);
  LogFile log("x.log", handle);
  std::size_t first[] = {4, 8};
  EXPECT_EQ(Full(), log.Write("aaa\nbbb\n", first));
  EXPECT_EQ("aaa\nb", fake::script.file);
  std::size_t second[] = {4};
  EXPECT_EQ("", log.Write("ccc\n", second)) << "once per streak";
  std::string tooMuch(LogFile::kMaxHeldBytes, 'z');
  std::size_t lost[] = {1, tooMuch.size()};
  EXPECT_EQ("", log.Write(tooMuch, lost));
  EXPECT_TRUE(log.Holding());

  fake::script.fileRoom = SIZE_MAX;
  std::size_t later[] = {4};
  EXPECT_EQ(
      "syslog-listen: writing to the log file x.log again; 2 records were "
      "lost while it took none (more than memory holds)\n",
      log.Write("ddd\n", later));
  EXPECT_EQ("aaa\nbbb\nccc\nddd\n", fake::script.file);
  EXPECT_FALSE(log.Holding());

  // Still full at the end: what never reached the file is counted.
  fake::script.fileRoom = 2;
  std::size_t last[] = {2, 4, 6};
  EXPECT_EQ(Full(), log.Write("e\nf\ng\n", last));
  EXPECT_EQ(
      "syslog-listen: 2 records could not be written to the log file x.log "
      "before the end\n",
      log.Last());
  std::fclose(handle);
}

}  // namespace
}  // namespace syslog_listen
