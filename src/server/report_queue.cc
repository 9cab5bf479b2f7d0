#include "server/report_queue.h"

#include <utility>

#include "common/messages.h"

namespace syslog_listen {

void ReportQueue::Add(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (waiting_.size() < kMaxWaiting) {
      waiting_.push_back(std::move(line));
    } else {
      if (!latest_.empty()) ++leftOut_;
      latest_ = std::move(line);
    }
  }
  ready_.notify_one();
}

void ReportQueue::Take(std::vector<std::string>& lines) {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return !waiting_.empty(); });
  lines.clear();
  std::swap(lines, waiting_);
  if (leftOut_ > 0) {
    lines.push_back(Fill(kReportsLeftOut, Counted(leftOut_, kMoreReportNoun)));
    leftOut_ = 0;
  }
  if (!latest_.empty()) lines.push_back(std::exchange(latest_, ""));
  writing_ = true;
}

void ReportQueue::Done() {
  {
    std::lock_guard lock(mutex_);
    writing_ = false;
  }
  written_.notify_all();
}

bool ReportQueue::WaitUntilWritten(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return written_.wait_until(lock, deadline,
                             [this] { return waiting_.empty() && !writing_; });
}

}  // namespace syslog_listen
