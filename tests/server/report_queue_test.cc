#include "server/report_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace syslog_listen {
namespace {

// Reports that pile up behind a standard error that takes none: the first
// eight and the latest are written, with one line for those between.
TEST(ReportQueue, WhatPilesUpIsCountedAndTheLatestKept) {
  ReportQueue queue;
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    queue.Add(std::to_string(i));
    if (i < 8 || i == 19) expected.push_back(std::to_string(i));
  }
  expected.insert(expected.end() - 1,
                  "syslog-listen: 11 more reports left out (standard error "
                  "took none for a while)\n");
  std::vector<std::string> lines;
  queue.Take(lines);
  EXPECT_EQ(expected, lines);
  const auto now = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.WaitUntilWritten(now)) << "taken, not yet written";
  queue.Done();
  EXPECT_TRUE(queue.WaitUntilWritten(now));
}

}  // namespace
}  // namespace syslog_listen
