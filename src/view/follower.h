// Reads a log file by its name as it grows, as `tail -F` does: once another
// file takes the name (rotation), the open one is read to its end and the
// new one from its start; once the name names nothing, the open file is
// read on until a file appears there; a file cut short is read again from
// its start.
#ifndef SYSLOG_LISTEN_VIEW_FOLLOWER_H_
#define SYSLOG_LISTEN_VIEW_FOLLOWER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "view/follow_disk.h"

namespace syslog_listen {

// Said once while it lasts: before the first file, the name names nothing,
// or nothing this user may read; after it, the file shown has lost its
// name and no other file has taken it yet.
enum class FollowNote { kMissing, kRefused, kGone };

// Where what the follower reads goes, in order.
class FollowSink {
 public:
  virtual ~FollowSink() = default;
  // The first file's last bytes (up to the window); `whole` when they are
  // all of it.
  virtual void Tail(std::string_view bytes, bool whole) = 0;
  // Bytes that came after.
  virtual void Bytes(std::string_view bytes) = 0;
  // The bytes read so far end a file: it was replaced, closed or cut short.
  virtual void Ended() = 0;
  virtual void Note(FollowNote note) = 0;
};

class Follower {
 public:
  // Read at a time; and at most in one look, so that a file that grows
  // fast cannot hold the caller up (a file being replaced is read to its
  // end all the same).
  static constexpr std::size_t kChunk = 64 << 10;
  static constexpr std::uint64_t kMaxPerLook = 4 << 20;

  // `tailWindow`: how much of the first file's end Tail gets.
  Follower(FollowDisk& disk, std::string name, std::size_t tailWindow);

  // Looks once: opens the name when no file is open, reads what the file
  // gained, follows the name. True when bytes came.
  bool Look(FollowSink& sink);

 private:
  bool Open(FollowSink& sink);
  // Reads on from offset_, at most `limit` bytes; how many came.
  std::uint64_t Read(FollowSink& sink, std::uint64_t limit);
  void ReadTail(FollowSink& sink);
  void Say(FollowSink& sink, FollowNote note);

  FollowDisk& disk_;
  const std::string name_;
  const std::size_t tailWindow_;
  std::unique_ptr<FollowDisk::File> file_;
  FileIdentity identity_;  // the open file's
  std::uint64_t offset_ = 0;
  bool started_ = false;  // a file has been open
  std::optional<FollowNote> said_;
  std::vector<char> chunk_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_VIEW_FOLLOWER_H_
