#include "server/console_backlog.h"

#include <algorithm>
#include <utility>

namespace syslog_listen {

namespace {

// Released blocks kept for the next records: enough for a console that
// keeps up, so that steady traffic allocates nothing.
constexpr std::size_t kSpareBlocks = 2;
// What each record's end takes from the capacity.
constexpr std::size_t kEndRoom = sizeof(std::uint32_t);

}  // namespace

ConsoleBacklog::ConsoleBacklog(std::size_t capacity, std::size_t blockSize)
    : capacity_(capacity), blockSize_(blockSize), sliceSize_(blockSize) {
  spare_.reserve(kSpareBlocks);
  spareEnds_.reserve(kSpareBlocks);
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

std::size_t ConsoleBacklog::Room(std::size_t bytes, std::size_t records) const {
  // A record larger than a block has one of its own, just its size.
  return std::max(blockSize_, bytes) + records * kEndRoom;
}

bool ConsoleBacklog::Append(std::string_view record) {
  if (blocks_.empty() || blocks_.back().size() + record.size() > blockSize_) {
    const std::size_t room = Room(record.size(), 1);
    if (reserved_ + room > capacity_) return false;
    std::string block;
    const std::size_t bytes = room - kEndRoom;
    if (!spare_.empty() && spare_.back().capacity() >= bytes) {
      block = std::move(spare_.back());
      spare_.pop_back();
    } else {
      block.reserve(bytes);
    }
    std::vector<std::uint32_t> ends;
    if (!spareEnds_.empty()) {
      ends = std::move(spareEnds_.back());
      spareEnds_.pop_back();
    }
    reserved_ += room - kEndRoom;
    blocks_.push_back(std::move(block));
    blockEnds_.push_back(std::move(ends));
  } else if (reserved_ + kEndRoom > capacity_) {
    return false;
  }
  reserved_ += kEndRoom;
  peak_ = std::max(peak_, reserved_);
  std::string& block = blocks_.back();
  block.append(record);
  // A block holds far less than 4 GiB.
  blockEnds_.back().push_back(static_cast<std::uint32_t>(block.size()));
  ++unshown_;
  return true;
}

bool ConsoleBacklog::TurnReady() const {
  // The count of a gap is due once everything before it has been written.
  return !closed_ && (!blocks_.empty() || (skipped_ > 0 && reserved_ == 0));
}

void ConsoleBacklog::Take(Turn& turn) {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return TurnReady(); });
  TakeReady(turn);
  lock.unlock();
  CutIntoSlices(turn);
}

bool ConsoleBacklog::Take(Turn& turn,
                          std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_until(lock, until, [this] { return TurnReady(); })) {
    return false;
  }
  TakeReady(turn);
  lock.unlock();
  CutIntoSlices(turn);
  return true;
}

void ConsoleBacklog::CutIntoSlices(Turn& turn) const {
  turn.slices.resize(turn.ends.size());
  for (std::size_t i = 0; i < turn.ends.size(); ++i) {
    std::vector<Slice>& slices = turn.slices[i];
    slices.clear();
    std::size_t sliceStart = 0;
    std::size_t recordStart = 0;
    for (const std::uint32_t end : turn.ends[i]) {
      // A slice takes whole records until it holds sliceSize_ bytes.
      if (slices.empty() || recordStart - sliceStart >= sliceSize_) {
        sliceStart = recordStart;
        slices.push_back({end, 0});
      }
      slices.back().end = end;
      ++slices.back().records;
      recordStart = end;
    }
  }
}

void ConsoleBacklog::TakeReady(Turn& turn) {
  turn.skipped = 0;
  writing_ = true;
  if (!blocks_.empty()) {
    std::swap(turn.blocks, blocks_);
    std::swap(turn.ends, blockEnds_);
    blockEnds_.clear();
    for (const std::vector<std::uint32_t>& ends : turn.ends) {
      taken_ += ends.size();
    }
  } else {
    turn.skipped = std::exchange(skipped_, 0);
  }
}

bool ConsoleBacklog::Release(Turn& turn) {
  bool drained = false;
  {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < turn.blocks.size(); ++i) {
      std::string& block = turn.blocks[i];
      std::vector<std::uint32_t>& ends = turn.ends[i];
      reserved_ -= Room(block.size(), ends.size());
      if (spare_.size() < kSpareBlocks) {
        block.clear();
        spare_.push_back(std::move(block));
      }
      if (spareEnds_.size() < kSpareBlocks) {
        ends.clear();
        spareEnds_.push_back(std::move(ends));
      }
    }
    // What of the turn was not shown waits for Close to count it.
    taken_ = 0;
    if (reserved_ == 0) {
      drained = peak_ > kSpareBlocks * blockSize_;
      peak_ = 0;
    }
    writing_ = false;
    written_.notify_all();
  }
  // The rest is freed outside the lock, off the receive path's way.
  turn.blocks.clear();
  turn.slices.clear();
  turn.ends.clear();
  return drained;
}

bool ConsoleBacklog::Showing() {
  std::lock_guard lock(mutex_);
  return !closed_;
}

void ConsoleBacklog::Shown(std::size_t records) {
  std::lock_guard lock(mutex_);
  // Even once closed: the write under way then may still have got through.
  unshown_ -= records;
  taken_ -= records;
}

void ConsoleBacklog::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  // Those queued, and those the console side took and did not show
  // (a console that has gone): never shown. The turn under way has its
  // records counted once its write has ended.
  skippedInAll_ += unshown_ - taken_;
  unshown_ = taken_;
}

bool ConsoleBacklog::WaitUntilIdle(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return written_.wait_until(lock, deadline, [this] { return !writing_; });
}

bool ConsoleBacklog::Written() const {
  return blocks_.empty() && skipped_ == 0 && !writing_;
}

std::uint64_t ConsoleBacklog::SkippedInAll() {
  std::lock_guard lock(mutex_);
  return closed_ ? skippedInAll_ + unshown_ : skippedInAll_;
}

bool ConsoleBacklog::WaitUntilWritten(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return written_.wait_until(lock, deadline, [this] { return Written(); });
}

}  // namespace syslog_listen
