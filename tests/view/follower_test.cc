#include "view/follower.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>

#include "view/presenter.h"
#include "view/stamped.h"

namespace syslog_listen {
namespace {

constexpr std::size_t kNone = SIZE_MAX;

// A folder with one name and the files it named in turn, by number. A file
// deleted on Windows keeps its name taken (pending) until it is closed.
struct FakeDisk : FollowDisk {
  std::vector<std::string> files;
  std::size_t atName = kNone, renamed = kNone, pending = kNone;
  bool refuse = false;
  std::unique_ptr<File> Open(const std::string&, bool* missing) override;
  std::optional<FileIdentity> IdentityAt(const std::string&) override {
    if (atName == kNone || atName == pending) return std::nullopt;
    return FileIdentity{0, atName};
  }
};

struct FakeFile : FollowDisk::File {
  FakeDisk& disk;
  const std::size_t id;
  FakeFile(FakeDisk& d, std::size_t i) : disk(d), id(i) {}
  ~FakeFile() override {
    if (disk.pending == id) disk.pending = disk.atName = kNone;
  }
  std::optional<FileIdentity> Identity() override {
    return FileIdentity{0, id};
  }
  std::optional<std::uint64_t> Size() override { return disk.files[id].size(); }
  std::size_t Read(std::uint64_t offset, std::span<char> into) override {
    if (offset >= disk.files[id].size()) return 0;
    return disk.files[id].copy(into.data(), into.size(), offset);
  }
  FileLinks Links() override {
    return disk.pending == id ? FileLinks::kDeletePending : FileLinks::kNamed;
  }
};

std::unique_ptr<FollowDisk::File> FakeDisk::Open(const std::string&,
                                                 bool* missing) {
  *missing = atName == kNone;
  if (refuse || atName == kNone || atName == pending) return nullptr;
  return std::make_unique<FakeFile>(*this, atName);
}

// Plays `steps` with a window of 64 bytes: `w:T` appends T to the file at
// the name, making one if need be, `old:T` to the one renamed away; `mv`
// renames it, `rm` deletes it (`rmwin` on Windows), `cut:T` cuts it to T;
// `deny`/`allow` its reading. `look` looks once, shown as what it showed
// then, after a '|': notes as <missing>, <refused>, <gone>; "@" stands for
// a time stamp text and its space.
std::string Play(const std::string& steps) {
  FakeDisk disk;
  std::string shown;
  Presenter* console = nullptr;
  Presenter presenter(Output::kConsole, [&](FollowNote note) {
    shown += std::exchange(console->text(), "");
    shown += note == FollowNote::kMissing   ? "<missing>"
             : note == FollowNote::kRefused ? "<refused>"
                                            : "<gone>";
  });
  console = &presenter;
  Follower follower(disk, "log", 64);
  const std::string start = std::string(kStamp) + " ";
  std::istringstream in(steps);
  for (std::string s; in >> s;) {
    const std::string text = Replaced(s.substr(s.find(':') + 1), "@", start);
    if (s == "look") {
      shown += "|";
      if (!follower.Look(presenter)) presenter.Idle();
      shown += std::exchange(presenter.text(), "");
    } else if (s.starts_with("w:") || s.starts_with("cut:")) {
      if (disk.atName == kNone) {
        disk.atName = disk.files.size();
        disk.files.emplace_back();
      }
      std::string& file = disk.files[disk.atName];
      file = (s[0] == 'w' ? file : "") + text;
    } else if (s.starts_with("old:")) {
      disk.files[disk.renamed] += text;
    } else if (s == "mv" || s == "rm") {
      disk.renamed = std::exchange(disk.atName, kNone);
    } else if (s == "rmwin") {
      disk.pending = disk.atName;
    } else {
      disk.refuse = s == "deny";
    }
  }
  return Replaced(shown, start, "@");
}

TEST(Follower, FollowsTheNameAndShowsEachRecordOnce) {
  const struct {
    const char* steps;
    const char* shown;
  } cases[] = {
      // The first file's end, in the window; the last record once the file
      // stops growing, and what comes after it as it comes.
      {"w:@1@2@3@4 look look w:@5 look look w:+ look look",
       "|@3\n@4|||\n@5|+|"},
      // Renamed: read on, until a new file takes the name; read the old
      // one to its end, then the new one from its start.
      {"w:@1 look mv old:@2 look old:@3 w:@4 look look",
       "|@1|<gone>|\n@2\n@3\n|@4"},
      // Deleted: the same; on Windows let go at once, for the name to free.
      {"w:@1 look rm old:@2 look look w:@3 look look", "|@1|<gone>|\n@2|\n|@3"},
      {"w:@1 look rmwin look w:@2 look look", "|@1|\n<gone>||@2"},
      // Cut short: read again from the start, on a line of its own.
      {"w:@1@2 look cut:x look look", "|@1\n@2|\nx|"},
      // Waited for; a file without -t, shown as it comes.
      {"look deny w:hello look allow look w:world look look",
       "|<missing>|<refused>|hello|world|"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.shown, Play(c.steps)) << c.steps;
  }
}

}  // namespace
}  // namespace syslog_listen
