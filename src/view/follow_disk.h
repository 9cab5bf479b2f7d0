// The files the live view reads, as Follower uses them: abstract so that
// tests can put a fake disk in place of the platform's.
#ifndef SYSLOG_LISTEN_VIEW_FOLLOW_DISK_H_
#define SYSLOG_LISTEN_VIEW_FOLLOW_DISK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace syslog_listen {

class FollowDisk {
 public:
  // A file open to read, that others may write, rename and delete
  // meanwhile; closed when destroyed.
  class File {
   public:
    virtual ~File() = default;
    virtual std::optional<FileIdentity> Identity() = 0;
    virtual std::optional<std::uint64_t> Size() = 0;
    // Up to `into.size()` bytes from `offset`: how many, 0 at the end.
    virtual std::size_t Read(std::uint64_t offset, std::span<char> into) = 0;
    // Whether the file still has a name.
    virtual FileLinks Links() = 0;
  };

  virtual ~FollowDisk() = default;
  // Opens `name`; nullptr on failure, with `*missing` set when nothing is
  // there.
  virtual std::unique_ptr<File> Open(const std::string& name,
                                     bool* missing) = 0;
  // What `name` names now; nullopt when nothing, or the system won't say.
  virtual std::optional<FileIdentity> IdentityAt(const std::string& name) = 0;
};

// The platform's disk.
FollowDisk& PlatformFollowDisk();

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_VIEW_FOLLOW_DISK_H_
