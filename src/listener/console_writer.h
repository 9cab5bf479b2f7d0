// The console gets its records from a thread of its own, through a bounded
// backlog, so that a slow or paused console never holds up the receive path
// and the log file.
#ifndef SYSLOG_LISTEN_LISTENER_CONSOLE_WRITER_H_
#define SYSLOG_LISTEN_LISTENER_CONSOLE_WRITER_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace syslog_listen {

// Records on their way to the console. The receive side queues records
// whole; the console side takes what is queued, writes it and releases it.
// Once a record finds no room, the receive side skips records, counting
// them, until the console has written everything queued before them; the
// console side then gets that count, at that point of the stream.
class ConsoleBacklog {
 public:
  // Memory the backlog may take while the console lags.
  static constexpr std::size_t kCapacity = 32 << 20;
  // Records are packed into blocks of this size; a record never spans two.
  static constexpr std::size_t kBlockSize = 64 << 10;

  explicit ConsoleBacklog(std::size_t capacity = kCapacity,
                          std::size_t blockSize = kBlockSize);

  // Receive side; never waits for the console. `records` holds whole
  // records back to back; `ends` the offset just past each, ascending.
  void Push(std::string_view records, std::span<const std::size_t> ends);

  // Receive side: a line for standard error, which the console side writes
  // on its next turn, so that a paused console cannot hold up the receive
  // path through standard error either (a terminal pauses both). Reports
  // are rare: beyond a few waiting, more are dropped.
  void Report(std::string line);

  // One turn of the console side: reports and blocks to write in order,
  // or, once everything before a gap has been released, the number of
  // records skipped in it (never both).
  struct Turn {
    std::vector<std::string> reports;
    std::vector<std::string> blocks;
    std::uint64_t skipped = 0;
  };
  // Waits until there is a turn to take.
  void Take(Turn& turn);
  // Gives back the room of a turn's blocks, once they are written. True
  // when that emptied the backlog after it had held more than a few blocks:
  // a moment to hand the memory back to the system.
  bool Release(Turn& turn);

 private:
  // Under the lock: appends `record` to the last block, or to a new one if
  // the capacity allows; false when there is no room for it.
  bool Append(std::string_view record);
  // The room a block holding `bytes` takes from the capacity.
  std::size_t Room(std::size_t bytes) const;

  const std::size_t capacity_;
  const std::size_t blockSize_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::string> blocks_;   // queued, not yet taken
  std::vector<std::string> reports_;  // likewise
  std::vector<std::string> spare_;    // released, kept for reuse
  std::size_t reserved_ = 0;          // block memory queued or being written
  std::size_t peak_ = 0;              // most reserved since last empty
  std::uint64_t skipped_ = 0;         // records skipped since the gap began
};

// The console side: a thread that writes the backlog to standard output,
// and each gap's count to standard error, as fast as the console takes them.
class ConsoleWriter {
 public:
  ConsoleWriter() = default;
  ConsoleWriter(const ConsoleWriter&) = delete;
  ConsoleWriter& operator=(const ConsoleWriter&) = delete;

  // Starts the thread, which runs until the process ends; false when no
  // thread can be started.
  bool Start();

  void Push(std::string_view records, std::span<const std::size_t> ends) {
    backlog_.Push(records, ends);
  }
  void Report(std::string line) { backlog_.Report(std::move(line)); }

 private:
  [[noreturn]] void Run();

  ConsoleBacklog backlog_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_CONSOLE_WRITER_H_
