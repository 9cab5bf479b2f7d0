// Records composed since the last write, for the log file and the console
// each, so that each output takes them in one piece.
#ifndef SYSLOG_LISTEN_SERVER_GATHERED_H_
#define SYSLOG_LISTEN_SERVER_GATHERED_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "records/record.h"

namespace syslog_listen {

// Largest datagram recorded whole; the bytes of a longer one past this are
// dropped.
inline constexpr int kMaxDatagram = 10000;

// The file's bytes, the console's where they differ (annotation wording,
// escapes), and where each record ends in each (one list when the console
// takes the file's bytes).
class Gathered {
 public:
  // Records are written once this much has gathered, and always before the
  // server waits...
  static constexpr std::size_t kWriteThreshold = 64 * 1024;
  // ... or once this many have gathered, which bounds the lists of where
  // they end.
  static constexpr std::size_t kMaxRecords = 2048;

  // `console`: the console's form, none without one.
  Gathered(std::optional<Output> console, bool annotate);
  Gathered(const Gathered&) = delete;
  Gathered& operator=(const Gathered&) = delete;

  // The record of `datagram`, arrived at `arrival`, for each output. True
  // when the record leaves out what follows a NUL byte in it (NULs alone
  // leave out nothing).
  bool Add(const Datagram& datagram, std::string_view arrival);
  // True once they are due to be written.
  bool Full() const {
    return file_.size() >= kWriteThreshold || fileEnds_.size() >= kMaxRecords;
  }
  const std::string& file() const { return file_; }
  std::span<const std::size_t> fileEnds() const { return fileEnds_; }
  std::string_view console() const {
    return shown_ != nullptr ? *shown_ : std::string_view();
  }
  std::span<const std::size_t> consoleEnds() const {
    if (shown_ == nullptr) return {};
    return shown_ == &file_ ? fileEnds_ : consoleEnds_;
  }
  // Once written.
  void Clear();

 private:
  std::optional<Output> console_;
  bool annotate_;
  std::string file_;
  std::string consoleBytes_;
  // The console's bytes: the file's when both are the same, none without
  // a console.
  std::string* shown_ = &file_;
  std::vector<std::size_t> fileEnds_;
  std::vector<std::size_t> consoleEnds_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_GATHERED_H_
