#include "view/follow_disk.h"

namespace syslog_listen {

namespace {

class PlatformFollowFile final : public FollowDisk::File {
 public:
  explicit PlatformFollowFile(std::FILE* file) : file_(file) {}
  ~PlatformFollowFile() override { std::fclose(file_); }
  PlatformFollowFile(const PlatformFollowFile&) = delete;
  PlatformFollowFile& operator=(const PlatformFollowFile&) = delete;

  std::optional<FileIdentity> Identity() override { return IdentityOf(file_); }
  std::optional<std::uint64_t> Size() override { return SizeOf(file_); }
  std::size_t Read(std::uint64_t offset, std::span<char> into) override {
    return ReadAt(file_, offset, into);
  }
  FileLinks Links() override { return LinksOf(file_); }

 private:
  std::FILE* const file_;
};

class PlatformDisk final : public FollowDisk {
 public:
  std::unique_ptr<File> Open(const std::string& name, bool* missing) override {
    std::FILE* file = OpenToFollow(name, missing);
    if (file == nullptr) return nullptr;
    return std::make_unique<PlatformFollowFile>(file);
  }
  std::optional<FileIdentity> IdentityAt(const std::string& name) override {
    return syslog_listen::IdentityAt(name);
  }
};

}  // namespace

FollowDisk& PlatformFollowDisk() {
  static PlatformDisk disk;
  return disk;
}

}  // namespace syslog_listen
