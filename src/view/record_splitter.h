// Finds the records in a log file's text as it is read: a record has no end
// of its own, so one is whole only once the next has begun. A record begins
// with its time stamp text and a space (files written with -t), or is a
// banner line.
#ifndef SYSLOG_LISTEN_VIEW_RECORD_SPLITTER_H_
#define SYSLOG_LISTEN_VIEW_RECORD_SPLITTER_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace syslog_listen {

// The most that one record of the server's takes in its file: 10000 bytes
// of message, the time stamp and the longest annotation, with room to
// spare.
inline constexpr std::size_t kMaxRecordBytes = 10300;

// What `text` begins with: a record's start, none, or too few bytes to
// tell.
enum class Start { kNo, kYes, kMaybe };
Start StartOf(std::string_view text);

// True when `text` begins with a time stamp text and a space; false for a
// banner.
bool StartsWithTimestamp(std::string_view text);

// Where to begin showing `window`, the end of a file (all of it when
// `whole`), for its last `count` records: at the start of the
// count-th last. With fewer, at its start when `whole`, else at its first
// record; with none, a record's worth before its end.
std::size_t TailStart(std::string_view window, bool whole, std::size_t count);

// A piece of the file's text that is ready to be shown.
struct Piece {
  std::string_view text;
  // Begins a record. Otherwise it goes on with the record shown last, or
  // comes before any (the middle of a record, or a file without -t).
  bool starts = false;
};

class RecordSplitter {
 public:
  using Show = std::function<void(const Piece&)>;

  // Records, or a file without any, held beyond `holdLimit` bytes are shown
  // as they come.
  explicit RecordSplitter(std::size_t holdLimit = 4 * kMaxRecordBytes)
      : holdLimit_(holdLimit) {}

  // Takes the file's next bytes and shows every record that the start of a
  // next one has ended, and at once what begins no record. A CR before an LF, as Windows text mode writes a
  // line end, is taken for the line end alone.
  void Feed(std::string_view bytes, const Show& show);

  // The file has stopped growing, or has ended: shows what is held. What
  // comes later goes on from there, and is shown as it comes.
  void Flush(const Show& show);

 private:
  const std::size_t holdLimit_;
  std::string held_;         // not shown yet
  bool heldStarts_ = false;  // held_ begins a record
  // From here on, held_ may hold a start not yet found: the bytes after it
  // were too few to tell.
  std::size_t scanFrom_ = 0;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_VIEW_RECORD_SPLITTER_H_
