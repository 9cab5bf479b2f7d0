#include "server/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>

#include "common/messages.h"

namespace syslog_listen {
namespace {

// A disk of one folder: names point at files, and a deleted file lives on
// while open; on Windows its name stays taken until it is closed. Writes
// take what room is left.
struct Node {
  std::string text;
  bool regular = true, pending = false;
  int links = 1, open = 0;
};

struct FakeDisk : LogDisk {
  std::map<std::string, std::shared_ptr<Node>> names;
  std::size_t room = SIZE_MAX;
  bool broken = false, opens = true, windows = false;
  std::unique_ptr<File> Reopen(const std::string& name) override;
};

struct FakeFile : LogDisk::File {
  FakeDisk& disk;
  std::shared_ptr<Node> node;
  FakeFile(FakeDisk& d, std::shared_ptr<Node> n) : disk(d), node(n) {
    ++node->open;
  }
  ~FakeFile() override {
    if (--node->open > 0 || !node->pending) return;
    std::erase_if(disk.names, [&](auto& n) { return n.second == node; });
  }
  FileWrite Write(std::string_view bytes) override {
    if (disk.broken) return {0, FileWrite::Failure::kOther};
    const std::size_t taken = std::min(bytes.size(), disk.room);
    disk.room -= taken;
    node->text += bytes.substr(0, taken);
    return {taken, taken < bytes.size() ? FileWrite::Failure::kFull
                                        : FileWrite::Failure::kNone};
  }
  bool IsRegular() override { return node->regular; }
  FileLinks Links() override {
    if (node->pending) return FileLinks::kDeletePending;
    return node->links > 0 ? FileLinks::kNamed : FileLinks::kDeleted;
  }
  NameState LookAtName(const std::string& name) override {
    const auto at = disk.names.find(name);
    return at != disk.names.end() && at->second == node && !node->pending
               ? NameState::kOpenFile
               : NameState::kMoved;
  }
};

std::unique_ptr<LogDisk::File> FakeDisk::Reopen(const std::string& name) {
  if (!opens) return nullptr;
  std::shared_ptr<Node>& node = names[name];
  if (!node) node = std::make_shared<Node>();
  if (!node->regular || node->pending) return nullptr;
  return std::make_unique<FakeFile>(*this, node);
}

// Plays `steps` on a fresh disk: `@S` the clock at S seconds; `roomN` N
// bytes free (`room` plenty, and writes work again), `full` none, `fail`
// writes fail otherwise; `mv` renames log to old, `rm` deletes it, `fifo`
// plants one at the name, `shut`/`open`: it cannot/can be opened; `win`
// Windows deletion; before the first write, `maxNB`/`maxNR` hold N bytes/
// records at most; `end` Finish, `-` a write of nothing new, else a batch:
// "a,b" is "a\nb\n". Returns the reports, and the text of the file first
// opened, then, if the name names another, `|` and its text.
std::pair<std::string, std::string> Play(const std::string& steps) {
  FakeDisk disk;
  const auto first = disk.names["log"] = std::make_shared<Node>();
  std::size_t maxBytes = LogFile::kMaxHeldBytes;
  std::size_t maxRecords = LogFile::kMaxHeldRecords;
  std::optional<LogFile> log;
  LogFile::Clock::time_point now{};
  std::string reports;
  std::istringstream in(steps);
  for (std::string s; in >> s;) {
    if (s[0] == '@') {
      now = decltype(now)(std::chrono::duration_cast<decltype(now)::duration>(
          std::chrono::duration<double>(std::stod(s.substr(1)))));
    } else if (s.starts_with("max")) {
      (s.back() == 'B' ? maxBytes : maxRecords) = std::stoul(s.substr(3));
    } else if (s.starts_with("room") || s == "full" || s == "fail") {
      disk.room = s.size() > 4 ? std::stoul(s.substr(4)) : SIZE_MAX;
      if (s == "full") disk.room = 0;
      disk.broken = s == "fail";
    } else if (s == "mv" || s == "rm") {
      const std::shared_ptr<Node> node = disk.names["log"];
      if (s == "mv") disk.names["old"] = node;
      node->pending = s == "rm" && disk.windows;
      if (!node->pending) disk.names.erase("log");
      if (s == "rm") node->links = 0;
    } else if (s == "fifo") {
      (disk.names["log"] = std::make_shared<Node>())->regular = false;
    } else if (s == "shut" || s == "open") {
      disk.opens = s == "open";
    } else if (s == "win") {
      disk.windows = true;
    } else {
      if (!log) {
        log.emplace("log", disk, std::make_unique<FakeFile>(disk, first), now,
                    maxBytes, maxRecords);
      }
      std::string bytes = s == "-" || s == "end" ? "" : s + "\n";
      std::replace(bytes.begin(), bytes.end(), ',', '\n');
      std::vector<std::size_t> ends;
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') ends.push_back(i + 1);
      }
      reports += s == "end" ? log->Finish(now) : log->Write(bytes, ends, now);
    }
  }
  const std::shared_ptr<Node> named = disk.names["log"];
  const std::string files = first->text;
  return {reports,
          named == first ? files : files + "|" + (named ? named->text : "")};
}

TEST(LogFile, HoldsWhatTheDiskDoesNotTakeAndFollowsTheName) {
  const std::string full = Fill(kLogFull, "log"),
                    failed = Fill(kLogWriteFailed, "log"),
                    resumed = Fill(kLogResumed, "log"),
                    toNew = Fill(kHeldForNewFile, "log"),
                    refused = Fill(kReopenFailed, "log"),
                    deleted = Fill(kWritingToDeleted, "log");
  struct {
    const char* steps;
    std::string reports;
    const char* files;
  } cases[] = {
      // A full disk: records wait, and reach the file whole and in order.
      {"room4 aa,bb cc room -", full + resumed, "aa\nbb\ncc\n"},
      {"fail aa room bb", failed + resumed, "aa\nbb\n"},
      {"full aa room end", full + resumed, "aa\n"},
      // Beyond the bound, records are lost whole, and counted.
      {"max5B full aa bb,cc d room -",
       full + Fill(kLogResumedWithLoss, "log", "2 records"), "aa\nd\n"},
      {"max2R full aa bb cc room -",
       full + Fill(kLogResumedWithLoss, "log", "1 record"), "aa\nbb\n"},
      {"max3B full aa bb end", full + Fill(kLogUnwritten, "2 records", "log"),
       ""},
      // Rotation: the name is looked at once a second, and opened again,
      // as a regular file only; a failure is reported once, a deleted file
      // once a minute.
      {"aa mv @0.9 bb @1 cc", "", "aa\nbb\n|cc\n"},
      {"aa rm @1 bb", "", "aa\n|bb\n"},
      {"aa mv shut @1 bb @2 cc open @2.9 dd @3 ee", refused,
       "aa\nbb\ncc\ndd\n|ee\n"},
      {"aa mv fifo @1 bb", refused, "aa\nbb\n|"},
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
