// The records' way to the console: a bounded backlog between the receive
// path, which never waits for it, and the console's writer.
#ifndef SYSLOG_LISTEN_SERVER_CONSOLE_BACKLOG_H_
#define SYSLOG_LISTEN_SERVER_CONSOLE_BACKLOG_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace syslog_listen {

// Records on their way to the console. The receive side queues records
// whole; the console side takes what is queued, writes it, says how many
// records the console took whole, and releases it. Once a record finds no
// room, the receive side skips records, counting them, until the console
// has written everything queued before them; the console side then gets
// that count, at that point of the stream.
class ConsoleBacklog {
 public:
  // Memory the backlog may take while the console lags, where each record
  // ends included.
  static constexpr std::size_t kCapacity = 32 << 20;
  // Records are packed into blocks of this size; a record never spans two.
  static constexpr std::size_t kBlockSize = 64 << 10;

  explicit ConsoleBacklog(std::size_t capacity = kCapacity,
                          std::size_t blockSize = kBlockSize);

  // Whole records of about `bytes` written at a time (a block, unless
  // set): a slow terminal takes a block for seconds, and a report, or the
  // end, waits for one write. Before the first Push.
  void SliceAt(std::size_t bytes) { sliceSize_ = bytes; }

  // Receive side; never waits for the console. `records` holds whole
  // records back to back; `ends` the offset just past each, ascending.
  void Push(std::string_view records, std::span<const std::size_t> ends);

  // One turn of the console side: blocks to write in order, or, once
  // everything before a gap has been released, the number of records
  // skipped in it (never both).
  // Where a block's slices end, and the records in each.
  struct Slice {
    std::size_t end;
    std::size_t records;
    bool operator==(const Slice&) const = default;
  };
  struct Turn {
    std::vector<std::string> blocks;
    std::vector<std::vector<Slice>> slices;  // of each block
    // Where each record of each block ends, for a write that the console
    // took only part of.
    std::vector<std::vector<std::uint32_t>> ends;
    std::uint64_t skipped = 0;
  };
  // Waits until there is a turn to take.
  void Take(Turn& turn);
  // The same, waiting until `until` at most; false when nothing came.
  bool Take(Turn& turn, std::chrono::steady_clock::time_point until);
  // Gives back the room of a turn's blocks, once they are written. True
  // when that emptied the backlog after it had held more than a few blocks:
  // a moment to hand the memory back to the system.
  bool Release(Turn& turn);
  // Console side: false once the backlog is closed, when nothing more is
  // to be written; after a write, the records the console took whole.
  bool Showing();
  void Shown(std::size_t records);
  // Waits until every turn has been taken and released, or `deadline`;
  // true when it has.
  bool WaitUntilWritten(std::chrono::steady_clock::time_point deadline);
  // At the end: from now on nothing more is taken or shown, and every record
  // queued counts as skipped; those of a turn being written count once the
  // console side has said how many it wrote.
  void Close();
  // Waits until the console side holds no turn, or `deadline`; true when it
  // holds none.
  bool WaitUntilIdle(std::chrono::steady_clock::time_point deadline);

  // Records skipped since the start and, once closed, those of a turn that
  // were not written whole: with those shown, every record pushed.
  std::uint64_t SkippedInAll();

 private:
  // Under the lock: appends `record` to the last block, or to a new one if
  // the capacity allows; false when there is no room for it.
  bool Append(std::string_view record);
  // The room a block holding `bytes` in `records` takes from the capacity.
  std::size_t Room(std::size_t bytes, std::size_t records) const;
  // Under the lock: nothing queued, skipped or being written.
  bool Written() const;
  // Under the lock: a turn is there to take.
  bool TurnReady() const;
  // Under the lock: takes the turn that is ready.
  void TakeReady(Turn& turn);
  // Cuts a turn's blocks into slices, from where their records end: on the
  // console side, and off the lock, not on the receive path.
  void CutIntoSlices(Turn& turn) const;

  const std::size_t capacity_;
  const std::size_t blockSize_;
  std::size_t sliceSize_;
  std::mutex mutex_;
  std::condition_variable ready_;    // a turn to take
  std::condition_variable written_;  // a turn released
  std::vector<std::string> blocks_;  // queued, not yet taken
  std::vector<std::vector<std::uint32_t>> blockEnds_;  // where records end
  std::vector<std::string> spare_;   // released, kept for reuse
  std::vector<std::vector<std::uint32_t>> spareEnds_;
  std::size_t reserved_ = 0;         // block memory queued or being written
  std::size_t peak_ = 0;             // most reserved since last empty
  std::uint64_t skipped_ = 0;        // records skipped since the gap began
  std::uint64_t skippedInAll_ = 0;   // ... and since the start
  std::uint64_t unshown_ = 0;        // queued or taken, not yet written
  std::uint64_t taken_ = 0;          // of those, in the turn taken
  bool writing_ = false;             // a turn taken, not yet released
  bool closed_ = false;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_CONSOLE_BACKLOG_H_
