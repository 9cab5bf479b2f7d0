#include "listener/console_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

#include "common/messages.h"
#include "listener/platform.h"

namespace syslog_listen {

namespace {

// Released blocks kept for the next records: enough for a console that
// keeps up, so that steady traffic allocates nothing.
constexpr std::size_t kSpareBlocks = 2;
// After each write, the writer lets records gather this long: woken for
// every batch the receive path hands over, it would cost both threads a
// wake-up per batch. Short enough for a console to look immediate.
constexpr auto kGather = std::chrono::milliseconds(1);

}  // namespace

ConsoleBacklog::ConsoleBacklog(std::size_t capacity, std::size_t blockSize)
    : capacity_(capacity), blockSize_(blockSize) {
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
      // Once skipping, go on until the console has caught up, so that it
      // shows long runs and one notice per gap, not a notice per write.
      if (skipped_ > 0 || !Append(record)) ++skipped_;
    }
  }
  ready_.notify_one();
}

std::size_t ConsoleBacklog::Room(const std::string& block) const {
  // A record larger than a block has one of its own, just its size.
  return std::max(blockSize_, block.size());
}

bool ConsoleBacklog::Append(std::string_view record) {
  if (blocks_.empty() ||
      blocks_.back().size() + record.size() > blockSize_) {
    const std::size_t room = std::max(blockSize_, record.size());
    if (reserved_ + room > capacity_) return false;
    std::string block;
    if (!spare_.empty() && spare_.back().capacity() >= room) {
      block = std::move(spare_.back());
      spare_.pop_back();
    } else {
      block.reserve(room);
    }
    reserved_ += room;
    blocks_.push_back(std::move(block));
  }
  blocks_.back().append(record);
  return true;
}

void ConsoleBacklog::Take(Turn& turn) {
  std::unique_lock lock(mutex_);
  // The count of a gap is due once everything before it has been written.
  ready_.wait(lock, [this] {
    return !blocks_.empty() || (skipped_ > 0 && reserved_ == 0);
  });
  turn.skipped = 0;
  if (!blocks_.empty()) {
    std::swap(turn.blocks, blocks_);
  } else {
    turn.skipped = std::exchange(skipped_, 0);
  }
}

void ConsoleBacklog::Release(Turn& turn) {
  {
    std::lock_guard lock(mutex_);
    for (std::string& block : turn.blocks) {
      reserved_ -= Room(block);
      if (spare_.size() < kSpareBlocks) {
        block.clear();
        spare_.push_back(std::move(block));
      }
    }
  }
  // The rest is freed outside the lock, off the receive path's way.
  turn.blocks.clear();
}

bool ConsoleWriter::Start() {
  try {
    std::thread([this] { Run(); }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void ConsoleWriter::Run() {
  // When the two compete for a core, the receive path and the file come
  // first.
  LowerThreadPriority();
  ConsoleBacklog::Turn turn;
  for (;;) {
    backlog_.Take(turn);
    if (turn.skipped > 0) {
      const std::string notice = SkippedNotice(turn.skipped);
      std::fwrite(notice.data(), 1, notice.size(), stderr);
    }
    WriteToConsole(turn.blocks);
    backlog_.Release(turn);
    Nap(kGather);
  }
}

std::string SkippedNotice(std::uint64_t skipped) {
  std::string line(kReportHead);
  line.append(std::to_string(skipped));
  line.append(kSkippedTail);
  return line;
}

}  // namespace syslog_listen
