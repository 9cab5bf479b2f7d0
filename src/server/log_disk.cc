#include "server/log_disk.h"

namespace syslog_listen {

namespace {

class PlatformLogFile final : public LogDisk::File {
 public:
  // Each output's bytes are gathered and written in one piece: a stream
  // buffer would only copy them again, and hold them back from the file.
  explicit PlatformLogFile(std::FILE* file) : file_(file) {
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
  ~PlatformLogFile() override { std::fclose(file_); }
  PlatformLogFile(const PlatformLogFile&) = delete;
  PlatformLogFile& operator=(const PlatformLogFile&) = delete;

  FileWrite Write(std::string_view bytes) override {
    return WriteToFile(file_, bytes);
  }
  bool IsRegular() override { return IsRegularFile(file_); }
  FileLinks Links() override { return LinksOf(file_); }
  NameState LookAtName(const std::string& name) override {
    return syslog_listen::LookAtName(name, file_);
  }

 private:
  std::FILE* const file_;
};

class PlatformLogDisk final : public LogDisk {
 public:
  std::unique_ptr<File> Reopen(const std::string& name) override {
    return PlatformFile(OpenLogFile(name, /*regularFileOnly=*/true));
  }
};

}  // namespace

LogDisk& PlatformDisk() {
  static PlatformLogDisk disk;
  return disk;
}

std::unique_ptr<LogDisk::File> PlatformFile(std::FILE* file) {
  if (file == nullptr) return nullptr;
  return std::make_unique<PlatformLogFile>(file);
}

}  // namespace syslog_listen
