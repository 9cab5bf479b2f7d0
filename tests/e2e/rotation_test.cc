// End-to-end: log rotation by renaming or deleting the file, as logrotate
// (and a Windows user) does it. The server looks at the log file's name at
// most once a second, before writing, and follows it to a new file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Longer than the server waits between two looks at the name.
constexpr auto kPastACheck = 1100ms;

// Numbered records sent paced, and the text they make.
struct Records {
  explicit Records(const Running& sender) : run(sender) {}
  const Running& run;
  int next = 0;
  std::string text;
  void Send(int count) {
    for (const int end = next + count; next < end; ++next) {
      text += Numbered('n', next);
      run.SendPaced(Numbered('n', next));
    }
  }
};

// After a rotation: sends more records a second later, when the server has
// looked at the name again. Then `files`, read in order, hold the banner and
// every record once, in order, and the last of them, the new file, ends
// with the records sent late.
void ExpectFollowed(Records& records, const std::vector<fs::path>& files) {
  std::this_thread::sleep_for(kPastACheck);
  const std::size_t early = records.text.size();
  records.Send(500);
  const std::string expected =
      OnDisk(Banner(records.run.port()) + records.text);
  std::string all;
  EXPECT_TRUE(WaitUntil([&] {
    all.clear();
    for (const fs::path& file : files) all += ReadFile(file);
    return MaskTimestamps(all) == expected;
  })) << Mismatch(expected, MaskTimestamps(all));
  const std::string late = OnDisk(records.text.substr(early));
  const std::string last = ReadFile(files.back());
  EXPECT_TRUE(last.size() >= late.size() &&
              last.compare(last.size() - late.size(), late.size(), late) == 0)
      << "the records sent late are not all in " << files.back()
      << ", which holds " << last.size() << " bytes";
}

// Renamed while records flow: every record is in exactly one of the two
// files, in order, and those sent a second after the rename are in the new
// one. Deleted: a new file gets the later records, with mode 0644.
TEST(Rotation, RenamedOrDeletedTheNameIsFollowed) {
  Running run;
  ASSERT_TRUE(run.ready());
  Records records(run);
  records.Send(500);
  fs::rename(run.log(), run.dir() / "test.log.1");
  records.Send(500);  // some before the server looks, some after
  ExpectFollowed(records, {run.dir() / "test.log.1", run.log()});

  fs::remove(run.log());
  std::this_thread::sleep_for(kPastACheck);
  run.SendPaced("after the delete\n");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(run.log()) == OnDisk("after the delete\n");
  })) << ReadFile(run.log());
  if (!WindowsServer()) {
    EXPECT_EQ(fs::perms(0644),
              fs::status(run.log()).permissions() & fs::perms::all);
  }
  EXPECT_EQ("", run.server().ErrorText());
}

// A name that cannot be opened again (its directory is gone) is reported
// once on standard error; the records go on into the open file, and to the
// name again once it can be opened.
TEST(Rotation, NameThatCannotBeReopenedIsReportedOnce) {
  TempDir dir;
  const auto makeLogs = [&] {
    fs::create_directory(dir.path() / "logs");
    GiveToServer(dir.path() / "logs");
  };
  makeLogs();
  const int port = FreeUdpPort();
  ServerProcess server({"-p", std::to_string(port), "-o", "logs/test.log"},
                       dir.path());
  ASSERT_TRUE(WaitForBanner(dir.path() / "logs/test.log"));
  fs::rename(dir.path() / "logs", dir.path() / "gone");
  UdpSocket sender;
  for (const char* record : {"a\n", "b\n"}) {
    std::this_thread::sleep_for(kPastACheck);
    sender.SendTo(port, record);
  }
  const std::string kept = OnDisk(Banner(port) + "a\nb\n");
  EXPECT_EQ(kept, MaskTimestamps(WaitForSize(dir.path() / "gone/test.log",
                                             RealSize(kept))));
  EXPECT_EQ(OnDisk("syslog-listen: cannot reopen the log file logs/test.log; "
                   "still writing to the open one\n"),
            server.ErrorText());

  makeLogs();
  std::this_thread::sleep_for(kPastACheck);
  sender.SendTo(port, "c\n");
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadFile(dir.path() / "logs/test.log") == OnDisk("c\n"); }));
}

// logrotate's own "create" rotation, forced four times while records flow:
// every record is in exactly one of the rotated files, in order, and those
// sent a second after the last rotation are in the new file.
TEST(Rotation, LogrotateCreateLosesNothing) {
  if (!Installed("logrotate")) GTEST_SKIP() << "logrotate is missing";
  Running run;
  ASSERT_TRUE(run.ready());
  // Started by root, the server runs on as nobody: the new file must be
  // nobody's, as the README says.
  const fs::path config = run.dir() / "logrotate.conf";
  std::ofstream(config) << run.log().string()
                        << " {\n  rotate 10\n  create 0644"
                        << (geteuid() == 0 ? " nobody nogroup" : "") << "\n}\n";
  const std::string state = (run.dir() / "logrotate.state").string();
  Records records(run);
  constexpr int kRotations = 4;
  for (int i = 0; i < kRotations; ++i) {
    records.Send(1000);
    ASSERT_EQ(0, RunToEnd({"logrotate", "-f", "-s", state, config.string()},
                          run.dir()))
        << ReadFile(run.dir() / "logrotate.stderr.out");
  }
  std::vector<fs::path> files;
  for (int i = kRotations; i > 0; --i) {
    files.push_back(run.dir() / ("test.log." + std::to_string(i)));
  }
  files.push_back(run.log());
  ExpectFollowed(records, files);
  EXPECT_EQ("", run.server().ErrorText());
}

}  // namespace
}  // namespace e2e
