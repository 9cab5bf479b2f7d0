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
  if (ReopenLogFile(name_, &file_)) {
    Unbuffered(file_);
    reopenFailing_ = false;
    return "";
  }
  if (reopenFailing_) return "";
  reopenFailing_ = true;
  std::string line(kReportHead);
  line.append(kReopenFailedHead);
  line.append(name_);
  line.append(kReopenFailedTail);
  return line;
}

}  // namespace syslog_listen
