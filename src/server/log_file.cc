#include "server/log_file.h"

#include <utility>

#include "common/messages.h"
#include "platform/platform.h"
#include "records/record.h"

namespace syslog_listen {

LogFile::LogFile(std::string name, std::FILE* file)
    : LogFile(std::move(name), PlatformDisk(), PlatformFile(file),
              Clock::now()) {}

LogFile::LogFile(std::string name, LogDisk& disk,
                 std::unique_ptr<LogDisk::File> file, Clock::time_point now,
                 std::size_t maxHeldBytes, std::size_t maxHeldRecords)
    : name_(std::move(name)),
      shownName_(TerminalEscaped(name_)),
      disk_(disk),
      file_(std::move(file)),
      maxHeldBytes_(maxHeldBytes),
      maxHeldRecords_(maxHeldRecords),
      following_(file_ != nullptr && file_->IsRegular()),
      nextCheck_(now + kCheckInterval) {}

std::string LogFile::CheckFollowable() {
  if (!following_ || file_->LookAtName(name_) != NameState::kNoAccess) {
    return "";
  }
  following_ = false;
  return Fill(kNameNotFollowed, shownName_);
}

std::string LogFile::Write(std::string_view bytes,
                           std::span<const std::size_t> ends,
                           Clock::time_point now) {
  if (bytes.empty() && !Holding()) return "";
  std::string report = FollowIfDue(now);
  if (file_ == nullptr) return report;
  const auto [text, textEnds] = FileText(bytes, ends);
  // Those that wait go first, so that the new ones find room if there is.
  if (Holding()) {
    const FileWrite::Failure failure = WriteHeld();
    if (Holding()) {
      HoldBehind(text, textEnds);
      return report + Failed(failure);
    }
    report += Resumed();
  }
  return report + WriteNew(text, textEnds);
}

std::string LogFile::FollowIfDue(Clock::time_point now) {
  // Checked before writing, so records that arrive a second or more after
  // a rotation, even after a long idle spell, go to the new file. While
  // records wait too: a full disk is often freed by deleting the log, and
  // its space comes back only once the deleted file is closed.
  if (!following_ || now < nextCheck_) return "";
  nextCheck_ = now + kCheckInterval;
  return Follow(now);
}

FileWrite::Failure LogFile::WriteHeld() {
  const FileWrite result =
      file_->Write(std::string_view(held_).substr(heldFrom_));
  Advance(result.written);
  return result.failure;
}

std::string LogFile::WriteNew(std::string_view text,
                              std::span<const std::size_t> ends) {
  const FileWrite result = file_->Write(text);
  if (result.failure == FileWrite::Failure::kNone) return "";
  // Held from the start of the record the write cut, so that it can go
  // whole to another file if this one loses its name meanwhile.
  std::size_t start = 0;
  for (const std::size_t end : ends) {
    if (end <= result.written) start = end;
  }
  Hold(text.substr(start), ends, start);
  Advance(result.written - start);
  return Failed(result.failure);
}

void LogFile::HoldBehind(std::string_view text,
                         std::span<const std::size_t> ends) {
  if (held_.size() - heldFrom_ + text.size() > maxHeldBytes_ ||
      heldEnds_.size() + ends.size() > maxHeldRecords_) {
    lost_ += ends.size();
  } else {
    Hold(text, ends, 0);
  }
}

std::string LogFile::Finish(Clock::time_point now) {
  if (!Holding()) return "";
  std::string report = Write({}, {}, now);
  if (!Holding()) return report;
  return report + Fill(kLogUnwritten,
                       Counted(lost_ + heldEnds_.size(), kRecordNoun),
                       shownName_);
}

void LogFile::Hold(std::string_view text, std::span<const std::size_t> ends,
                   std::size_t skip) {
  const std::uint64_t start = heldBase_ + held_.size();
  if (!Holding()) headStart_ = start;
  for (const std::size_t end : ends) {
    if (end > skip) heldEnds_.push_back(start + (end - skip));
  }
  held_.append(text);
}

void LogFile::Advance(std::size_t written) {
  heldFrom_ += written;
  const std::uint64_t done = heldBase_ + heldFrom_;
  while (!heldEnds_.empty() && heldEnds_.front() <= done) {
    headStart_ = heldEnds_.front();
    heldEnds_.pop_front();
  }
  if (heldFrom_ == held_.size()) {
    // Up to the bound's worth of memory, handed back.
    heldBase_ = done;
    held_ = std::string();
    heldFrom_ = 0;
    return;
  }
  // Drop the records written whole once they are half, so each byte moves
  // at most once more on average; the one written in part stays.
  const auto whole = static_cast<std::size_t>(headStart_ - heldBase_);
  if (whole >= held_.size() / 2) {
    held_.erase(0, whole);
    heldBase_ = headStart_;
    heldFrom_ -= whole;
  }
}

std::string LogFile::Resumed() {
  writeFailing_ = false;
  const std::uint64_t lost = std::exchange(lost_, 0);
  return lost == 0 ? Fill(kLogResumed, shownName_)
                   : Fill(kLogResumedWithLoss, shownName_,
                          Counted(lost, kRecordNoun));
}

std::string LogFile::Failed(FileWrite::Failure failure) {
  if (writeFailing_) return "";
  writeFailing_ = true;
  return Fill(failure == FileWrite::Failure::kFull ? kLogFull : kLogWriteFailed,
              shownName_);
}

std::string LogFile::Follow(Clock::time_point now) {
  // A record the open file took in part is finished there while that file
  // has a name (renamed, say): its rest in another file would leave it torn
  // in this one. Deleted, nobody reads it: it goes whole to the new file.
  const bool cut = Holding() && headStart_ < heldBase_ + heldFrom_;
  if (cut && file_ != nullptr && file_->Links() == FileLinks::kNamed) {
    return "";
  }
  const bool named =
      file_ != nullptr && file_->LookAtName(name_) == NameState::kOpenFile;
  if (named || Reopen()) {
    reopenFailing_ = false;
    deletedReported_.reset();
    return !named && Holding() ? Fill(kHeldForNewFile, shownName_) : "";
  }
  // Records kept in a file nobody can find are as good as lost: say so
  // while it lasts, not once.
  if (file_ == nullptr || file_->Links() != FileLinks::kNamed) {
    if (deletedReported_ && now < *deletedReported_ + kDeletedInterval) {
      return "";
    }
    deletedReported_ = now;
    return Fill(file_ == nullptr ? kRecordsLost : kWritingToDeleted,
                shownName_);
  }
  if (reopenFailing_) return "";
  reopenFailing_ = true;
  return Fill(kReopenFailed, shownName_);
}

bool LogFile::Reopen() {
  std::unique_ptr<LogDisk::File> fresh = disk_.Reopen(name_);
  if (fresh == nullptr && file_ != nullptr &&
      file_->Links() == FileLinks::kDeletePending) {
    // The name stays taken until the deleted file is closed. Every record
    // so far is written or held: nothing is lost by closing it first.
    file_.reset();
    fresh = disk_.Reopen(name_);
  }
  if (fresh == nullptr) return false;
  file_ = std::move(fresh);
  // A record the old file took in part goes whole to the new one.
  if (Holding()) heldFrom_ = static_cast<std::size_t>(headStart_ - heldBase_);
  return true;
}

}  // namespace syslog_listen
