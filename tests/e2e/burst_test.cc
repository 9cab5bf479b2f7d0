// End-to-end: bursts. The server drains what has queued up, and whenever it
// waits, every record it received is in the file, in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <optional>
#include <string>
#include <vector>

#include "common/counts.h"
#include "support/harness.h"

namespace e2e {
namespace {

// The records after the banner, one per line.
std::vector<std::string> RecordLines(const std::string& file) {
  std::vector<std::string> lines;
  for (std::size_t at = file.find('\n') + 1, end;
       (end = file.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(file.substr(at, end + 1 - at));
  }
  return lines;
}

class Burst : public ::testing::Test {
 protected:
  Running run_;
};

// Thousands of datagrams as fast as one socket sends them, then silence:
// once the server waits for more, the file holds all of them, in order, each
// once, with none left in a buffer (where Linux shows it waiting, the server
// is held still there, so the file cannot catch up later). The console shows
// the same.
TEST_F(Burst, EveryRecordIsInTheFileWhenTheServerWaits) {
  constexpr int kCount = 5000;
  std::string records;
  for (int i = 0; i < kCount; ++i) {
    const std::string text = Numbered('b', i);
    run_.Send(text);
    records += text;
  }
  const std::string expected = OnDisk(Banner(run_.port()) + records);
  std::string file;
  if (WindowsServer()) {
    file = WaitForSize(run_.log(), RealSize(expected));
  } else {
    ASSERT_TRUE(WaitUntil([&] {
      return ReceiveQueueBytes(run_.port()) == 0 &&
             WaitingInReceive(run_.server().pid());
    }));
    run_.server().Signal(SIGSTOP);
    file = ReadFile(run_.log());
    run_.server().Signal(SIGCONT);
  }
  EXPECT_EQ("", Mismatch(expected, MaskTimestamps(file)))
      << RecordLines(file).size() << " records of " << kCount;
  EXPECT_TRUE(WaitUntil([&] { return run_.server().ConsoleText() == file; }))
      << Mismatch(file, run_.server().ConsoleText());
  EXPECT_EQ("", run_.server().Reports());
}

// A server that cannot receive (stopped here; busy or starved elsewhere)
// lets its queue fill and the system drop the rest. Once it runs again it
// says on standard error how many were dropped, without waiting for another
// datagram: on Linux exactly what never reached the file; on Windows, where
// the count is the whole machine's, at least that many. The records
// themselves are as always.
TEST_F(Burst, DroppedDatagramsAreReportedOnStandardError) {
  run_.server().Signal(SIGSTOP);
  constexpr int kCount = 100000;  // far more than any receive queue holds
  for (int i = 0; i < kCount; ++i) run_.Send(Numbered('d', i));
  run_.server().Signal(SIGCONT);
  const std::string tail = OnDisk(
      WindowsServer() ? " UDP datagrams dropped on this machine (all "
                        "programs) while datagrams arrived here (receive "
                        "queues full or other errors)\n"
                      : " datagrams dropped by the system since start "
                        "(receive queue full)\n");
  std::string file;
  int received = 0;
  long long dropped = -1;  // as the last report says
  auto reported = [&] {
    file = ReadFile(run_.log());
    received = static_cast<int>(RecordLines(file).size());
    // The last drop report (a line on why may follow the first).
    const std::string errors = run_.server().ErrorText();
    const auto end = errors.rfind(tail);
    const auto head = errors.rfind("syslog-listen: ", end);
    if (end == std::string::npos || head == std::string::npos) return false;
    std::string number = errors.substr(head + 15, end - head - 15);
    std::erase(number, ',');  // grouped: "1,234"
    dropped = std::stoll(number);
    return WindowsServer() ? dropped >= kCount - received
                           : dropped == kCount - received;
  };
  EXPECT_TRUE(WaitUntil(reported))
      << run_.server().ErrorText() << "reported " << dropped << ", missing "
      << kCount - received;
  ASSERT_LT(received, kCount);
  // What was kept is a run of records in sending order.
  int next = 0;
  for (const std::string& line : RecordLines(file)) {
    ASSERT_EQ(OnDisk(Numbered('d', 0)).size(), line.size()) << line;
    ASSERT_EQ('d', line[0]) << line;
    const int number = std::stoi(line.substr(1));
    ASSERT_LE(next, number) << "out of order: " << line;
    next = number + 1;
  }
  EXPECT_TRUE(WaitUntil([&] {
    return run_.server().ConsoleText() == ReadFile(run_.log());
  })) << Mismatch(ReadFile(run_.log()), run_.server().ConsoleText());
  // The stop's account names the drops as the last report counted them.
  run_.server().Signal(WindowsServer() ? SIGINT : SIGTERM);
  ASSERT_TRUE(run_.server().WaitForStatus().has_value());
  ASSERT_TRUE(reported());
  const std::string errors = run_.server().ErrorText();
  const auto named = errors.find(
      "; " + syslog_listen::GroupedDecimal(dropped) +
      (WindowsServer() ? " dropped on this machine (all programs) while "
                         "datagrams arrived here"
                       : " dropped by the system"));
  EXPECT_LT(errors.rfind("syslog-listen: stopped after "), named) << errors;
}

// Asked to stop (SIGTERM; Ctrl+C on Windows) with datagrams waiting in its
// queue, the server records every one of them, on both outputs, before it
// ends as the request would have ended it. It is held still until the
// request comes, so that all of them are waiting by then. Its last line
// on standard error accounts for them.
TEST_F(Burst, AStopKeepsEveryDatagramAlreadyReceived) {
  run_.server().Signal(SIGSTOP);
  constexpr int kCount = 3000;
  for (int i = 0; i < kCount; ++i) run_.Send(Numbered('s', i));
  // A receive queue the system keeps small may have taken only the first.
  const long kept = kCount - DroppedAt(run_.port());
  std::string records;
  for (int i = 0; i < kept; ++i) records += Numbered('s', i);
  run_.server().Signal(WindowsServer() ? SIGINT : SIGTERM);
  run_.server().Signal(SIGCONT);
  const std::optional<int> status = run_.server().WaitForStatus();
  ASSERT_TRUE(status.has_value()) << "still running";
  if (!WindowsServer()) {
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
        << "status " << *status;
  }
  const std::string expected = OnDisk(Banner(run_.port()) + records);
  EXPECT_EQ("", Mismatch(expected, MaskTimestamps(ReadFile(run_.log()))));
  EXPECT_EQ("",
            Mismatch(expected, MaskTimestamps(run_.server().ConsoleText())));
  if (kept == kCount) {
    EXPECT_TRUE(MaskRunTime(run_.server().Reports())
                    .ends_with(OnDisk("syslog-listen: stopped after <time>; "
                                      "received 3,000 datagrams (24,000 "
                                      "bytes)\n")))
        << run_.server().Reports();
  }
}

}  // namespace
}  // namespace e2e
