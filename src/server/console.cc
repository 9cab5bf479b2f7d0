#include "server/console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

#include "common/messages.h"
#include "platform/platform.h"

namespace syslog_listen {

namespace {

// After each write, the writer lets records gather this long: woken for
// every batch the receive path hands over, it would cost both threads a
// wake-up per batch. Short enough for a console to look immediate.
constexpr auto kGather = std::chrono::milliseconds(1);
// A terminal is written this much at a time: a slow one (a serial line,
// a remote session) takes a whole block for seconds.
constexpr std::size_t kTerminalSlice = 4096;
// At the end, how long a write under way may take to be broken off: a
// write that can be takes far less, even on a busy machine; one that cannot
// holds up the end by this much.
constexpr auto kGiveUpLimit = std::chrono::milliseconds(500);

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
  lineEnd_ =
      std::string(form_ == Output::kColourTerminal ? kColourReset : "") + "\n";
  if (TitleSettable()) title_.emplace();
}

namespace {

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
  if (title_) title_->Figures({.port = port});
  recordsThreaded_ = StartThread([this] { WriteRecords(); });
  reportsThreaded_ = StartThread([this] { WriteReports(); });
  // Written in line, the title could land inside a record. (Dropped only
  // then: the writer reads it.)
  if (!recordsThreaded_) title_.reset();
}

void Console::Figures(const TitleFigures& figures) {
  if (title_) title_->Figures(figures);
}

void Console::Push(std::string_view records,
                   std::span<const std::size_t> ends) {
  // None (no console, or nothing gathered): no wake-up for the writer.
  if (ends.empty()) return;
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

void Console::Report(std::vector<std::string> lines) {
  for (std::string& line : lines) Report(std::move(line));
}

bool Console::Flush(std::chrono::steady_clock::time_point deadline) {
  // Both threads write meanwhile: a stalled standard output costs the
  // reports nothing, nor the other way round.
  const bool reports = !reportsThreaded_ || reports_.WaitUntilWritten(deadline);
  const bool records = !recordsThreaded_ || backlog_.WaitUntilWritten(deadline);
  return reports && records;
}

void Console::StopRecords(std::chrono::steady_clock::time_point deadline) {
  Flush(deadline);
  backlog_.Close();
  if (!recordsThreaded_) return;
  // A write that the console takes nothing more of is broken off, where the
  // system allows, so that what it took can be counted. Asked again until
  // the writer has left it: a write may have begun after the last call.
  const auto givenUp = std::chrono::steady_clock::now() + kGiveUpLimit;
  bool ended = false;
  do {
    GiveUpConsoleWrites();
    ended = backlog_.WaitUntilIdle(
        std::min(givenUp, std::chrono::steady_clock::now() + kGather));
  } while (!ended && std::chrono::steady_clock::now() < givenUp);
  // A record cut short would run on into the next report, in its colour.
  // Where the writer is still inside a write, one may yet be.
  if (shared_ && (recordCut_ || !ended)) Report(lineEnd_);
}

std::uint64_t Console::NotShown() {
  const std::uint64_t notShown = backlog_.SkippedInAll();
  return !bannerShown_ && notShown > 0 ? notShown - 1 : notShown;
}

void Console::End(std::chrono::steady_clock::time_point deadline) {
  if (reportsThreaded_) reports_.WaitUntilWritten(deadline);
  if (title_) title_->End(deadline);
}

void Console::UpdateTitle() {
  const auto now = TerminalTitle::Clock::now();
  if (!title_->Due(now)) return;
  const auto lock = LockShared();
  title_->Show(now);
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
    if (title_) {
      const bool took = backlog_.Take(
          turn, std::chrono::steady_clock::now() + TerminalTitle::kInterval);
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
    WriteBlocks(turn);
    // After a lag, up to the whole capacity sits freed in the heap.
    if (backlog_.Release(turn)) ReturnFreeMemory();
    Nap(kGather);
  }
}

void Console::WriteBlocks(const ConsoleBacklog::Turn& turn) {
  // A slice at a time: a report waits for one slice at most, and the end
  // for no more than the slice being written.
  for (std::size_t i = 0; i < turn.blocks.size(); ++i) {
    const std::string_view block = turn.blocks[i];
    const std::span<const std::uint32_t> ends = turn.ends[i];
    std::size_t start = 0;
    std::size_t first = 0;  // the slice's first record
    for (const ConsoleBacklog::Slice& slice : turn.slices[i]) {
      if (!backlog_.Showing()) return;
      const std::string_view piece = block.substr(start, slice.end - start);
      std::size_t taken = 0;
      {
        const auto lock = LockShared();
        taken = WriteToConsole({&piece, 1});
      }
      if (std::exchange(firstWrite_, false)) bannerShown_ = taken >= ends[0];
      if (taken < piece.size()) {
        // Gone, or given up at the end: what got through whole was shown.
        const auto records = ends.subspan(first, slice.records);
        const auto whole =
            std::upper_bound(records.begin(), records.end(), start + taken);
        backlog_.Shown(static_cast<std::size_t>(whole - records.begin()));
        const std::size_t shownTo =
            whole == records.begin() ? start : whole[-1];
        if (start + taken > shownTo && !backlog_.Showing()) CutAtTheEnd();
        return;
      }
      backlog_.Shown(slice.records);
      start = slice.end;
      first += slice.records;
    }
  }
}

void Console::CutAtTheEnd() {
  recordCut_ = true;
  // Where the reports do not share the terminal, its line is ended on it,
  // if it takes that before the end (the stop waits only so long).
  if (!shared_ && !lineEnd_.empty()) WriteText(stdout, lineEnd_);
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
