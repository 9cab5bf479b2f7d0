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
      following_(IsRegularFile(file)),
      nextCheck_(Clock::now() + kCheckInterval) {
  Unbuffered(file_);
}

std::string LogFile::CheckFollowable() {
  if (!following_ || LookAtName(name_, file_) != NameState::kNoAccess) {
    return "";
  }
  following_ = false;
  return Fill(kNameNotFollowed, name_);
}

std::string LogFile::Write(std::string_view bytes) {
  if (bytes.empty()) return "";
  // Checked before writing, so records that arrive a second or more after
  // a rotation, even after a long idle spell, go to the new file.
  std::string report;
  if (following_) {
    const Clock::time_point now = Clock::now();
    if (now >= nextCheck_) {
      report = Follow(now);
      nextCheck_ = now + kCheckInterval;
    }
  }
  // The result is not looked at: a full disk must not stop the server,
  // which goes on appending once there is room.
  if (file_ != nullptr) WriteToFile(file_, bytes);
  return report;
}

std::string LogFile::Follow(Clock::time_point now) {
  if ((file_ != nullptr && LookAtName(name_, file_) == NameState::kOpenFile) ||
      Reopen()) {
    reopenFailing_ = false;
    deletedReported_.reset();
    return "";
  }
  // Records kept in a file nobody can find are as good as lost: say so
  // while it lasts, not once.
  if (file_ == nullptr || LinksOf(file_) != FileLinks::kNamed) {
    if (deletedReported_ && now < *deletedReported_ + kDeletedInterval) {
      return "";
    }
    deletedReported_ = now;
    return Fill(file_ == nullptr ? kRecordsLost : kWritingToDeleted, name_);
  }
  if (reopenFailing_) return "";
  reopenFailing_ = true;
  return Fill(kReopenFailed, name_);
}

bool LogFile::Reopen() {
  std::FILE* fresh = OpenLogFile(name_, /*regularFileOnly=*/true);
  if (fresh == nullptr && file_ != nullptr &&
      LinksOf(file_) == FileLinks::kDeletePending) {
    // The name stays taken until the deleted file is closed. Every record
    // so far is written: nothing is lost by closing it first.
    std::fclose(file_);
    file_ = nullptr;
    fresh = OpenLogFile(name_, /*regularFileOnly=*/true);
  }
  if (fresh == nullptr) return false;
  if (file_ != nullptr) std::fclose(file_);
  file_ = fresh;
  Unbuffered(file_);
  return true;
}

}  // namespace syslog_listen
