#include "server/console_backlog.h"

#include <algorithm>
#include <utility>

namespace syslog_listen {

namespace {

// Released blocks kept for the next records: enough for a console that
// keeps up, so that steady traffic allocates nothing.
constexpr std::size_t kSpareBlocks = 2;

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

}  // namespace syslog_listen
