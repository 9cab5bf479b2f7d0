#include "server/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

#include "common/messages.h"

namespace syslog_listen {
namespace {

constexpr int kNone = -1, kFifo = -2;

// A folder with one name and the files it named in turn, by number: the log
// (0), then each one opened again. A deleted file lives on while open; on
// Windows its name stays taken (pending) until it is closed.
struct FakeDisk : LogDisk {
  std::vector<std::string> files{""};
  int atName = 0, old = kNone;  // what the name names; the file renamed away
  std::size_t room = SIZE_MAX;  // what writes take before the disk is full
  bool broken = false, opens = true, windows = false, pending = false;
  std::unique_ptr<File> Reopen(const std::string&) override;
};

struct FakeFile : LogDisk::File {
  FakeDisk& disk;
  const int id;
  FakeFile(FakeDisk& d, int i) : disk(d), id(i) {}
  ~FakeFile() override {
    if (!disk.pending || disk.atName != id) return;
    disk.pending = false;
    disk.atName = kNone;
  }
  FileWrite Write(std::string_view bytes) override {
    if (disk.broken) return {0, FileWrite::Failure::kOther};
    const std::size_t taken = std::min(bytes.size(), disk.room);
    disk.room -= taken;
    disk.files[id] += bytes.substr(0, taken);
    return {taken, taken < bytes.size() ? FileWrite::Failure::kFull
                                        : FileWrite::Failure::kNone};
  }
  bool IsRegular() override { return true; }
  FileLinks Links() override {
    if (disk.pending && disk.atName == id) return FileLinks::kDeletePending;
    return disk.atName == id || disk.old == id ? FileLinks::kNamed
                                               : FileLinks::kDeleted;
  }
  NameState LookAtName(const std::string&) override {
    return disk.atName == id && !disk.pending ? NameState::kOpenFile
                                              : NameState::kMoved;
  }
};

std::unique_ptr<LogDisk::File> FakeDisk::Reopen(const std::string&) {
  if (!opens || atName == kFifo || pending) return nullptr;
  if (atName == kNone) {
    atName = static_cast<int>(files.size());
    files.emplace_back();
  }
  return std::make_unique<FakeFile>(*this, atName);
}

// Plays `steps` on a log holding 8 bytes and 3 records at most: `@S` the
// clock at S seconds; `roomN` N bytes free (`room` plenty), `full` none,
// `fail` writes fail otherwise; `mv` renames the log, `rm` deletes it,
// `fifo` plants one at its name, `shut`/`open` the name cannot/can be
// opened, `win` Windows deletion; `end` Finish; else a batch of records, "a,b"
// for "a\nb\n". Returns the reports, and each file's text, joined by '|'.
std::pair<std::string, std::string> Play(const std::string& steps) {
  FakeDisk disk;
  LogFile::Clock::time_point now{};
  LogFile log("log", disk, std::make_unique<FakeFile>(disk, 0), now, 8, 3);
  std::string reports;
  std::istringstream in(steps);
  for (std::string s; in >> s;) {
    if (s[0] == '@') {
      now = decltype(now)(std::chrono::duration_cast<decltype(now)::duration>(
          std::chrono::duration<double>(std::stod(s.substr(1)))));
    } else if (s.starts_with("room") || s == "full" || s == "fail") {
      disk.room = s == "full"    ? 0
                  : s.size() > 4 ? std::stoul(s.substr(4))
                                 : SIZE_MAX;
      disk.broken = s == "fail";
    } else if (s == "mv" || s == "rm" || s == "fifo") {
      if (s == "mv") disk.old = disk.atName;
      disk.pending = s == "rm" && disk.windows;
      if (!disk.pending) disk.atName = s == "fifo" ? kFifo : kNone;
    } else if (s == "shut" || s == "open" || s == "win") {
      (s == "win" ? disk.windows : disk.opens) = s != "shut";
    } else if (s == "end") {
      reports += log.Finish(now);
    } else {
      std::string bytes = s + "\n";
      std::vector<std::size_t> ends;
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == ',') bytes[i] = '\n';
        if (bytes[i] == '\n') ends.push_back(i + 1);
      }
      reports += log.Write(bytes, ends, now);
    }
  }
  std::string files = disk.files[0];
  for (std::size_t i = 1; i < disk.files.size(); ++i) {
    files += "|" + disk.files[i];
  }
  return {reports, files};
}

TEST(LogFile, HoldsWhatTheDiskDoesNotTakeAndFollowsTheName) {
  const std::string full = Fill(kLogFull, "log"),
                    resumed = Fill(kLogResumed, "log"),
                    toNew = Fill(kHeldForNewFile, "log"),
                    refused = Fill(kReopenFailed, "log"),
                    deleted = Fill(kWritingToDeleted, "log");
  const struct {
    const char* steps;
    std::string reports;
    const char* files;
  } cases[] = {
      // A full disk: records wait, and reach the file whole and in order.
      {"room4 aa,bb cc room end", full + resumed, "aa\nbb\ncc\n"},
      {"fail aa room bb", Fill(kLogWriteFailed, "log") + resumed, "aa\nbb\n"},
      // Beyond the bound, records are lost whole, and counted.
      {"full aa bb,cc dddd room end",
       full + Fill(kLogResumedWithLoss, "log", "2 records"), "aa\ndddd\n"},
      {"full a b c d room end",
       full + Fill(kLogResumedWithLoss, "log", "1 record"), "a\nb\nc\n"},
      {"full aa bb,cc end", full + Fill(kLogUnwritten, "3 records", "log"), ""},
      // Rotation: the name is looked at once a second, and opened again,
      // as a regular file only; a failure is reported once, a deleted file
      // once a minute.
      {"aa mv @0.9 bb @1 cc", "", "aa\nbb\n|cc\n"},
      {"aa mv shut @1 bb @2 cc open @2.9 dd @3 ee", refused,
       "aa\nbb\ncc\ndd\n|ee\n"},
      {"aa mv fifo @1 bb", refused, "aa\nbb\n"},
      {"aa rm shut @1 bb @60 cc @61 dd open @62 ee", deleted + deleted,
       "aa\nbb\ncc\ndd\n|ee\n"},
      // Rotated while records wait: a record cut in a renamed file ends
      // there; in a deleted one, or whole, it goes to the new file.
      {"room3 aaaa mv room @1 bb @2 cc", full + resumed, "aaaa\nbb\n|cc\n"},
      {"room3 aaaa rm room @1 bb", full + toNew + resumed, "aaa|aaaa\nbb\n"},
      {"full aa mv room @1 bb", full + toNew + resumed, "|aa\nbb\n"},
      // Windows: the deleted file is closed first to free its name.
      {"win aa rm @1 bb", "", "aa\n|bb\n"},
      {"win aa rm shut @1 bb @2 cc open @3 dd", Fill(kRecordsLost, "log"),
       "aa\n|dd\n"},
  };
  for (const auto& c : cases) {
    const auto [reports, files] = Play(c.steps);
    EXPECT_EQ(c.reports, reports) << c.steps;
    EXPECT_EQ(c.files, files) << c.steps;
  }
}

}  // namespace
}  // namespace syslog_listen
