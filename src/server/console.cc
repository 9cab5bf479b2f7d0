#include "server/console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "common/messages.h"
#include "platform/platform.h"

namespace syslog_listen {

namespace {

// Released blocks kept for the next records: enough for a console that
// keeps up, so that steady traffic allocates nothing.
constexpr std::size_t kSpareBlocks = 2;
// After each write, the writer lets records gather this long: woken for
// every batch the receive path hands over, it would cost both threads a
// wake-up per batch. Short enough for a console to look immediate.
constexpr auto kGather = std::chrono::milliseconds(1);
// A terminal is written this much at a time: a slow one (a serial line,
// a remote session) takes a whole block for seconds.
constexpr std::size_t kTerminalSlice = 4096;
// The terminal's title changes at most this often.
constexpr auto kTitleInterval = std::chrono::seconds(1);

}  // namespace

ConsoleBacklog::ConsoleBacklog(std::size_t capacity, std::size_t blockSize)
    : capacity_(capacity), blockSize_(blockSize), sliceSize_(blockSize) {
  spare_.reserve(kSpareBlocks);
}

void ConsoleBacklog::Push(std::string_view records,
                          std::span<const std::size_t> ends) {
  {
    std::lock_guard lock(mutex_);
    std::size_t start = 0;
    for (const std::size_t end : ends) {
      const std::string_view record = records.substr(start, end - start);
      start = end;
      // An empty record shows nothing and needs no room.
      if (record.empty()) continue;
      if (closed_) {
        ++skippedInAll_;
        continue;
      }
      // Once skipping, go on until the console has caught up, so that it
      // shows long runs and one notice per gap, not a notice per write.
      if (skipped_ > 0 || !Append(record)) {
        ++skipped_;
        ++skippedInAll_;
      }
    }
  }
  ready_.notify_one();
}

std::size_t ConsoleBacklog::Room(std::size_t bytes) const {
  // A record larger than a block has one of its own, just its size.
  return std::max(blockSize_, bytes);
}

bool ConsoleBacklog::Append(std::string_view record) {
  if (blocks_.empty() || blocks_.back().size() + record.size() > blockSize_) {
    const std::size_t room = Room(record.size());
    if (reserved_ + room > capacity_) return false;
    std::string block;
    if (!spare_.empty() && spare_.back().capacity() >= room) {
      block = std::move(spare_.back());
      spare_.pop_back();
    } else {
      block.reserve(room);
    }
    reserved_ += room;
    peak_ = std::max(peak_, reserved_);
    blocks_.push_back(std::move(block));
    blockSlices_.emplace_back();
  }
  std::string& block = blocks_.back();
  std::vector<Slice>& slices = blockSlices_.back();
  const std::size_t sliceStart =
      slices.size() < 2 ? 0 : slices[slices.size() - 2].end;
  if (slices.empty() || block.size() - sliceStart >= sliceSize_) {
    slices.push_back({block.size(), 0});
  }
  block.append(record);
  slices.back().end = block.size();
  ++slices.back().records;
  ++unshown_;
  return true;
}

bool ConsoleBacklog::TurnReady() const {
  // The count of a gap is due once everything before it has been written.
  return !blocks_.empty() || (skipped_ > 0 && reserved_ == 0);
}

void ConsoleBacklog::Take(Turn& turn) {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return TurnReady(); });
  TakeReady(turn);
}

bool ConsoleBacklog::Take(Turn& turn,
                          std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_until(lock, until, [this] { return TurnReady(); })) {
    return false;
  }
  TakeReady(turn);
  return true;
}

void ConsoleBacklog::TakeReady(Turn& turn) {
  turn.skipped = 0;
  writing_ = true;
  if (!blocks_.empty()) {
    std::swap(turn.blocks, blocks_);
    std::swap(turn.slices, blockSlices_);
    blockSlices_.clear();
  } else {
    turn.skipped = std::exchange(skipped_, 0);
  }
}

bool ConsoleBacklog::Release(Turn& turn) {
  bool drained = false;
  {
    std::lock_guard lock(mutex_);
    for (std::string& block : turn.blocks) {
      reserved_ -= Room(block.size());
      if (spare_.size() < kSpareBlocks) {
        block.clear();
        spare_.push_back(std::move(block));
      }
    }
    if (reserved_ == 0) {
      drained = peak_ > kSpareBlocks * blockSize_;
      peak_ = 0;
    }
    writing_ = false;
    if (Written()) written_.notify_all();
  }
  // The rest is freed outside the lock, off the receive path's way.
  turn.blocks.clear();
  turn.slices.clear();
  return drained;
}

bool ConsoleBacklog::Showing() {
  std::lock_guard lock(mutex_);
  return !closed_;
}

void ConsoleBacklog::Shown(std::size_t records) {
  std::lock_guard lock(mutex_);
  if (!closed_) unshown_ -= records;
}

void ConsoleBacklog::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  // Including a slice being written now: it may never be written whole.
  skippedInAll_ += std::exchange(unshown_, 0);
}

bool ConsoleBacklog::Written() const {
  return blocks_.empty() && skipped_ == 0 && !writing_;
}

std::uint64_t ConsoleBacklog::SkippedInAll() {
  std::lock_guard lock(mutex_);
  return skippedInAll_;
}

bool ConsoleBacklog::WaitUntilWritten(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return written_.wait_until(lock, deadline, [this] { return Written(); });
}

namespace {

// The terminal world's conventions: NO_COLOR set and not empty, or a
// terminal announced as dumb, ask for no colours.
bool ColoursWanted() {
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (noColour == nullptr || *noColour == '\0') &&
         (term == nullptr || std::string_view(term) != "dumb");
}

}  // namespace

Console::Console() : shared_(OutputsShareStream()) {
  // Run as a daemon, standard output is often the null device: skip it.
  if (IsNullDevice(stdout)) return;
  if (!IsTerminal(stdout)) {
    form_ = Output::kConsole;
    return;
  }
  backlog_.SliceAt(kTerminalSlice);
  form_ = ColoursWanted() && TerminalColours() ? Output::kColourTerminal
                                               : Output::kTerminal;
  titled_ = TitleSettable();
}

namespace {

// Tries `attempt` until it succeeds or `deadline` has passed.
template <typename Attempt>
bool TryUntil(std::chrono::steady_clock::time_point deadline, Attempt attempt) {
  while (!attempt()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Nap(kGather);
  }
  return true;
}

// Runs `body` on a thread of its own; false when the system refuses one.
template <typename Body>
bool StartThread(Body body) {
  try {
    std::thread(body).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

void Console::Start(std::uint16_t port) {
  figures_.port = port;
  recordsThreaded_ = StartThread([this] { WriteRecords(); });
  reportsThreaded_ = StartThread([this] { WriteReports(); });
  // Written in line, the title could land inside a record. (Set only then:
  // the writer reads it.)
  if (!recordsThreaded_) titled_ = false;
}

void Console::Figures(const TitleFigures& figures) {
  if (!titled_) return;
  std::lock_guard lock(figuresMutex_);
  figures_ = figures;
}

void Console::Push(std::string_view records,
                   std::span<const std::size_t> ends) {
  if (recordsThreaded_) {
    backlog_.Push(records, ends);
  } else if (!records.empty()) {
    WriteToConsole({&records, 1});
  }
}

void Console::Report(std::string line) {
  if (line.empty()) return;
  if (reportsThreaded_) {
    reports_.Add(std::move(line));
  } else {
    WriteReport(line);
  }
}

bool Console::Flush(std::chrono::steady_clock::time_point deadline) {
  // Both threads write meanwhile: a stalled standard output costs the
  // reports nothing, nor the other way round.
  const bool reports = !reportsThreaded_ || reports_.WaitUntilWritten(deadline);
  const bool records = !recordsThreaded_ || backlog_.WaitUntilWritten(deadline);
  return reports && records;
}

void Console::StopRecords() { backlog_.Close(); }

void Console::End(std::chrono::steady_clock::time_point deadline) {
  if (reportsThreaded_) reports_.WaitUntilWritten(deadline);
  if (!titled_) return;
  // The writer may be inside a write the terminal never finishes: then it
  // can set no title either, and the user's goes back all the same.
  std::unique_lock title(titleMutex_, std::defer_lock);
  if (TryUntil(deadline, [&] { return title.try_lock(); })) titleEnded_ = true;
  // The terminal takes a slice's write whole, so the title goes back
  // between two; one that stays stalled keeps ours.
  TryUntil(deadline, RestoreTitle);
}

void Console::UpdateTitle() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextTitle_) return;
  TitleFigures figures;
  {
    std::lock_guard lock(figuresMutex_);
    figures = figures_;
  }
  const auto lock = LockShared();
  std::lock_guard title(titleMutex_);
  if (titleEnded_ || shown_ == figures) return;
  SetTitle(TitleText(figures));
  shown_ = figures;
  nextTitle_ = now + kTitleInterval;
}

std::unique_lock<std::mutex> Console::LockShared() {
  return shared_ ? std::unique_lock(sharedStream_)
                 : std::unique_lock<std::mutex>();
}

void Console::WriteRecords() {
  // When the two compete for a core, the receive path and the file come
  // first.
  LowerThreadPriority();
  ConsoleBacklog::Turn turn;
  for (;;) {
    // A terminal's title is looked at once a second, records or none.
    if (titled_) {
      const bool took = backlog_.Take(
          turn, std::chrono::steady_clock::now() + kTitleInterval);
      UpdateTitle();
      if (!took) continue;
    } else {
      backlog_.Take(turn);
    }
    if (turn.skipped > 0 && backlog_.Showing()) {
      // Written here, at its point between the records.
      const auto lock = LockShared();
      WriteReport(Fill(kConsoleSkipped, Counted(turn.skipped, kRecordNoun)));
    }
    // A slice at a time: a report waits for one slice at most, and the end
    // for no more than the slice being written.
    for (std::size_t i = 0; i < turn.blocks.size(); ++i) {
      std::size_t start = 0;
      for (const ConsoleBacklog::Slice& slice : turn.slices[i]) {
        if (!backlog_.Showing()) break;
        const std::string_view piece =
            std::string_view(turn.blocks[i]).substr(start, slice.end - start);
        start = slice.end;
        {
          const auto lock = LockShared();
          WriteToConsole({&piece, 1});
        }
        backlog_.Shown(slice.records);
      }
    }
    // After a lag, up to the whole capacity sits freed in the heap.
    if (backlog_.Release(turn)) ReturnFreeMemory();
    Nap(kGather);
  }
}

void Console::WriteReports() {
  std::vector<std::string> lines;
  for (;;) {
    reports_.Take(lines);
    for (const std::string& line : lines) {
      const auto lock = LockShared();
      WriteReport(line);
    }
    reports_.Done();
  }
}

}  // namespace syslog_listen
