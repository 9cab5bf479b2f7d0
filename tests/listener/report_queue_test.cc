#include "listener/report_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace syslog_listen {
namespace {

// Reports that pile up behind a standard error that takes none: the first
// few and the latest are written, with one line for those left out between.
TEST(ReportQueue, WhatPilesUpIsCountedAndTheLatestKept) {
  ReportQueue queue;
  for (int i = 0; i < 20; ++i) queue.Add("r" + std::to_string(i) + "\n");
  std::vector<std::string> lines;
  queue.Take(lines);
  std::vector<std::string> expected;
  for (int i = 0; i < 8; ++i)
    expected.push_back("r" + std::to_string(i) + "\n");
  expected.push_back(
      "syslog-listen: 11 more reports left out (standard error took none for "
      "a while)\n");
  expected.push_back("r19\n");
  EXPECT_EQ(expected, lines);

  const auto now = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.WaitUntilWritten(now)) << "taken, not yet written";
  queue.Done();
  EXPECT_TRUE(queue.WaitUntilWritten(now));
  // Caught up, it holds a few again before it counts.
  queue.Add("a\n");
  queue.Add("b\n");
  queue.Take(lines);
  EXPECT_EQ((std::vector<std::string>{"a\n", "b\n"}), lines);
}

}  // namespace
}  // namespace syslog_listen
