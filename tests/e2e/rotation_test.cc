// End-to-end: log rotation by renaming or deleting the file, as logrotate
// (and a Windows user) does it. The server looks at the log file's name at
// most once a second, before writing, and follows it to a new file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
  EXPECT_TRUE(
      ReadFile(files.back()).ends_with(OnDisk(records.text.substr(early))))
      << "the records sent late are not all in " << files.back();
}

// Renamed while records flow: every record is in exactly one of the two
// files, in order, and those sent a second after the rename are in the new
// one. Deleted: a new file gets the later records, with mode 0644.
TEST(Rotation, RenamedOrDeletedTheNameIsFollowed) {
  Running run;
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
  EXPECT_EQ("", run.server().Reports());
}

// A name that the system will not let the server open again: a FIFO put
// there by someone with a reader waiting, which the server must neither
// block on nor write to, or a symbolic link that someone else made, at the
// name or in place of its directory, to a file or directory the server may
// write, which it must not follow (one that root made, it follows, the
// directory's too; on Windows, no link in place of a directory). Or the file
// deleted with its directory, which the system must show as deleted. Each
// is reported, even with standard error a pipe that nobody reads, and the
// records go on into the open file. How often it is said, and when the name
// is tried again, the log file's unit tests prove on a fake disk.
TEST(Rotation, NameThatCannotBeReopenedIsReported) {
  enum Loss { kFifoAtTheName, kLink, kFolderLink, kDirectoryDeleted };
  for (const Loss loss :
       {kFifoAtTheName, kLink, kFolderLink, kDirectoryDeleted}) {
    if (loss == kFifoAtTheName && WindowsServer()) continue;
    // Another's link takes root to make; wine shows a link at the name as
    // its target, and one in a folder part as a reparse point.
    if (loss == kLink && (WindowsServer() || geteuid() != 0)) continue;
    if (loss == kFolderLink && !WindowsServer() && geteuid() != 0) continue;
    TempDir dir;
    const fs::path logs = dir.path() / "logs";
    fs::create_directory(logs);
    GiveToServer(logs);
    const int port = FreeUdpPort();
    ChildProcess server(
        ServerCommand({"-p", std::to_string(port), "-o", "logs/test.log"}),
        dir.path(), Stdout::kNullWithErrorsStalled);
    ASSERT_TRUE(WaitForBanner(logs / "test.log"));
    fs::path kept = logs / "test.log.1";  // where the records go meanwhile
    int fifoReader = -1;
    std::string report =
        "cannot reopen the log file logs/test.log; still "
        "writing to the open one\n";
    if (loss == kFolderLink) {
      fs::rename(logs, dir.path() / "logs.old");
      fs::create_directory(dir.path() / "victim");
      GiveToServer(dir.path() / "victim");
      fs::create_directory_symlink(dir.path() / "victim", logs);
      if (!WindowsServer()) {
        ASSERT_EQ(0, lchown(logs.c_str(), 4242, 4242));
      }
      kept = dir.path() / "logs.old/test.log";
    } else if (loss == kDirectoryDeleted) {
      fs::remove_all(logs);
      kept.clear();
      report =
          "the log file logs/test.log was deleted and cannot be created "
          "again; records are going into the deleted file\n";
    } else {
      fs::rename(logs / "test.log", kept);
      if (loss == kFifoAtTheName) {
        ASSERT_EQ(0, mkfifo((logs / "test.log").c_str(), 0666));
        fifoReader = open((logs / "test.log").c_str(), O_RDONLY | O_NONBLOCK);
      } else {
        std::ofstream(dir.path() / "victim") << "precious\n";
        GiveToServer(dir.path() / "victim");
        fs::create_symlink(dir.path() / "victim", logs / "test.log");
        ASSERT_EQ(0, lchown((logs / "test.log").c_str(), 4242, 4242));
      }
    }
    std::this_thread::sleep_for(kPastACheck);
    UdpSocket sender;
    std::string text = OnDisk(Banner(port));
    for (const char* record : {"a\n", "b\n"}) {
      // `b` follows the report that `a` brought, which must not hold it up.
      sender.SendTo(port, record);
      text += OnDisk(record);
      if (kept.empty()) continue;
      EXPECT_EQ(text, MaskTimestamps(WaitForSize(kept, RealSize(text))))
          << loss;
    }
    EXPECT_TRUE(WaitUntil([&] {
      return server.Reports() == OnDisk("syslog-listen: " + report);
    })) << loss
        << ": " << server.Reports();
    if (fifoReader >= 0) {
      char byte;
      EXPECT_GE(0, read(fifoReader, &byte, 1)) << "written to the FIFO";
      close(fifoReader);
    } else if (loss == kLink) {
      EXPECT_EQ("precious\n", ReadFile(dir.path() / "victim"));
    } else if (loss == kFolderLink) {
      EXPECT_FALSE(fs::exists(dir.path() / "victim/test.log"));
    }
    if ((loss != kLink && loss != kFolderLink) || WindowsServer()) continue;
    // A link that root made is followed, at the name or in place of its
    // directory: records sent until one lands there (the server looks at
    // the name a second after it last did).
    if (loss == kLink) {
      fs::remove(logs / "test.log");
      fs::create_symlink("own.log", logs / "test.log");
    } else {
      fs::remove(logs);
      fs::create_directory(dir.path() / "own");
      GiveToServer(dir.path() / "own");
      fs::create_directory_symlink("own", logs);
    }
    int polls = 0;
    EXPECT_TRUE(WaitUntil([&] {
      if (polls++ % 40 == 0) sender.SendTo(port, "c\n");
      return ReadFile(logs / "test.log").ends_with("c\n");
    })) << loss;
  }
}

// logrotate's own "create" rotation, forced four times while records flow:
// every record is in exactly one of the rotated files, in order, and those
// sent a second after the last rotation are in the new file.
TEST(Rotation, LogrotateCreateLosesNothing) {
  std::vector<std::string> logrotate = Peer("logrotate");
  if (logrotate.empty()) GTEST_SKIP() << "logrotate is missing";
  Running run;
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
    std::vector<std::string> command = logrotate;
    command.insert(command.end(), {"-f", "-s", state, config.string()});
    ASSERT_EQ(0, RunToEnd(command, run.dir()))
        << ReadFile(run.dir() / "logrotate.stderr.out");
  }
  std::vector<fs::path> files;
  for (int i = kRotations; i > 0; --i) {
    files.push_back(run.dir() / ("test.log." + std::to_string(i)));
  }
  files.push_back(run.log());
  ExpectFollowed(records, files);
  EXPECT_EQ("", run.server().Reports());
}

}  // namespace
}  // namespace e2e
