#include "listener/log_file.h"

#include <utility>

#include "common/messages.h"
#include "listener/platform.h"

namespace syslog_listen {

namespace {

// Each output's bytes are gathered and written in one piece: a stream
// buffer would only copy them again, and hold them back from the file.
void Unbuffered(std::FILE* file) {
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
}

}  // namespace

LogFile::LogFile(std::string name, std::FILE* file)
    : name_(std::move(name)),
      file_(file),
      nextCheck_(Clock::now() + kCheckInterval) {
  Unbuffered(file_);
}

std::string LogFile::Write(std::string_view bytes) {
  if (bytes.empty()) return "";
  // Checked before writing, so records that arrive a second or more after
  // a rotation, even after a long idle spell, go to the new file.
  std::string report;
  const Clock::time_point now = Clock::now();
  if (now >= nextCheck_) {
    report = Follow();
    nextCheck_ = now + kCheckInterval;
  }
  // The result is not looked at: a full disk must not stop the server,
  // which goes on appending once there is room.
  if (file_ != nullptr) std::fwrite(bytes.data(), 1, bytes.size(), file_);
  return report;
}

std::string LogFile::Follow() {
  if (NamesOpenFile(name_, file_)) {
    reopenFailing_ = false;
    return "";
  }
  if (Reopen()) {
    reopenFailing_ = false;
    return "";
  }
  if (reopenFailing_) return "";
  reopenFailing_ = true;
  return Concat(kReopenFailedHead, name_, kReopenFailedTail);
}

bool LogFile::Reopen() {
  std::FILE* fresh = OpenLogFile(name_);
  if (fresh == nullptr && file_ != nullptr && DeletePending(file_)) {
    // The name stays taken until the deleted file is closed. Every record
    // so far is written: nothing is lost by closing it first.
    std::fclose(file_);
    file_ = nullptr;
    fresh = OpenLogFile(name_);
  }
  if (fresh == nullptr) return false;
  if (file_ != nullptr) std::fclose(file_);
  file_ = fresh;
  Unbuffered(file_);
  return true;
}

}  // namespace syslog_listen
