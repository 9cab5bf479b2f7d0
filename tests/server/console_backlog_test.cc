#include "server/console_backlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace syslog_listen {
namespace {

// Records "r000042\n", `count` of them from `first`, as the receive path
// hands them over.
struct Batch {
  std::string bytes;
  std::vector<std::size_t> ends;
};

Batch Records(int first, int count) {
  Batch batch;
  for (int i = first; i < first + count; ++i) {
    char record[16];
    std::snprintf(record, sizeof record, "r%06d\n", i);
    batch.bytes += record;
    batch.ends.push_back(batch.bytes.size());
  }
  return batch;
}

void Push(ConsoleBacklog& backlog, const Batch& batch) {
  backlog.Push(batch.bytes, batch.ends);
}

TEST(ConsoleBacklog, QueuesWholeRecordsThenSkipsUntilTheConsoleCaughtUp) {
  // Two 8-byte records per 20-byte block, and room for two such blocks
  // with where each record ends (4 bytes).
  ConsoleBacklog backlog(64, 20);
  Push(backlog, Records(0, 3));
  Push(backlog, Records(3, 4));  // r000004 finds no room: the gap starts
  ConsoleBacklog::Turn turn;
  backlog.Take(turn);
  EXPECT_EQ(0u, turn.skipped);
  ASSERT_EQ(2u, turn.blocks.size());
  EXPECT_EQ("r000000\nr000001\n", turn.blocks[0]);
  EXPECT_EQ("r000002\nr000003\n", turn.blocks[1]);
  // Room has been taken but not yet given back: still skipping.
  Push(backlog, Records(7, 1));
  backlog.Release(turn);
  backlog.Take(turn);
  EXPECT_TRUE(turn.blocks.empty());
  EXPECT_EQ(4u, turn.skipped);
  // Caught up: records are queued again, and a record larger than a block
  // gets one of its own.
  const std::string large(25, 'L');
  const std::size_t ends[] = {8, 33};
  backlog.Push("r000008\n" + large, ends);
  backlog.Take(turn);
  EXPECT_EQ(0u, turn.skipped);
  ASSERT_EQ(2u, turn.blocks.size());
  EXPECT_EQ("r000008\n", turn.blocks[0]);
  EXPECT_EQ(large, turn.blocks[1]);

  // Sliced, a block is written a few whole records at a time.
  ConsoleBacklog sliced(64, 40);
  sliced.SliceAt(16);
  Push(sliced, Records(0, 5));
  sliced.Take(turn);
  const std::vector<ConsoleBacklog::Slice> slices = {
      {16, 2}, {32, 2}, {40, 1}};
  EXPECT_EQ(slices, turn.slices[0]);
}

// The receive side and the console side on two threads, the backlog small
// enough to overflow again and again: the console shows every record whole,
// in order, and each gap's count is exactly the records missing there.
TEST(ConsoleBacklog, TwoThreadsAccountForEveryRecord) {
  constexpr int kCount = 200000;
  ConsoleBacklog backlog(4096, 512);
  std::string shown;  // records, and "gap N\n" where a gap was reported
  std::latch overflowed(1);
  std::thread console([&] {
    overflowed.wait();
    // Every record ends up shown or counted, so this loop ends however the
    // two threads are scheduled.
    ConsoleBacklog::Turn turn;
    for (int accounted = 0; accounted < kCount;) {
      backlog.Take(turn);
      if (turn.skipped > 0) {
        shown += "gap " + std::to_string(turn.skipped) + "\n";
        accounted += static_cast<int>(turn.skipped);
      }
      for (const std::string& block : turn.blocks) {
        shown += block;
        accounted += static_cast<int>(block.size() / 8);
      }
      backlog.Release(turn);
    }
  });
  // The console side starts once 8 KiB, twice the capacity, are pushed.
  for (int next = 0, size = 1; next < kCount; size = size % 37 + 1) {
    size = std::min(size, kCount - next);
    Push(backlog, Records(next, size));
    if (next < 1024 && next + size >= 1024) overflowed.count_down();
    next += size;
  }
  console.join();

  int expected = 0;
  int gaps = 0;
  for (std::size_t at = 0; at < shown.size();) {
    const std::size_t end = shown.find('\n', at);
    ASSERT_NE(std::string::npos, end) << "a torn record at the end";
    const std::string line = shown.substr(at, end - at);
    at = end + 1;
    if (line.rfind("gap ", 0) == 0) {
      expected += std::stoi(line.substr(4));
      ++gaps;
      continue;
    }
    ASSERT_EQ(7u, line.size()) << "a torn record: " << line;
    ASSERT_EQ(expected, std::stoi(line.substr(1)))
        << "after " << gaps << " gaps";
    ++expected;
  }
  EXPECT_EQ(kCount, expected);
  EXPECT_GT(gaps, 0) << "the backlog never overflowed";
}

}  // namespace
}  // namespace syslog_listen
