// The console gets its records from a thread of its own, through a bounded
// backlog, so that a slow or paused console never holds up the receive path
// and the log file.
#ifndef SYSLOG_LISTEN_SERVER_CONSOLE_H_
#define SYSLOG_LISTEN_SERVER_CONSOLE_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/record.h"
#include "server/console_backlog.h"
#include "server/report_queue.h"
#include "server/run_report.h"
#include "server/terminal_title.h"

namespace syslog_listen {

// Standard output and standard error as the server uses them: records go
// to standard output (none when it is the null device, escaped on a
// terminal) through a backlog, the server's own reports to standard error
// through a queue, each written by a thread of its own, so that neither a
// slow console nor a stalled standard error ever holds up the receive path
// or the other.
class Console {
 public:
  // Looks at standard output to choose the records' form.
  Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // How records are composed for standard output; none when it takes none.
  std::optional<Output> form() const { return form_; }

  // Starts the threads, which run until the process ends. Should the system
  // refuse one, what it would write is written in line instead. `port`
  // goes into the terminal's title.
  void Start(std::uint16_t port);

  // True when the terminal's title shows the server's figures.
  bool titled() const { return title_.has_value(); }
  // The figures for the title, shown at most once a second, when changed.
  void Figures(const TitleFigures& figures);

  // Records composed in form(), as ConsoleBacklog::Push takes them; none is
  // nothing. The first one handed over is the banner, which NotShown()
  // does not count.
  void Push(std::string_view records, std::span<const std::size_t> ends);
  // A line for standard error; "" is nothing.
  void Report(std::string line);
  // Lines for standard error, each as Report takes a line.
  void Report(std::vector<std::string> lines);
  // Waits until everything handed over has been written, or `deadline` has
  // passed: a paused console must not hold up the end of the process. True
  // when everything was written.
  bool Flush(std::chrono::steady_clock::time_point deadline);
  // At the end: waits until the records handed over are written, or
  // `deadline` has passed; then no more are written, and a write under way
  // is broken off, where the system allows, within a moment. NotShown()
  // then counts every record the console did not take whole. A terminal
  // left inside a record gets its line ended (and its colour reset): before
  // the next report, where the reports share it; else right after the
  // record, if the terminal takes it.
  void StopRecords(std::chrono::steady_clock::time_point deadline);
  // Waits for the reports until `deadline`, then gives the terminal its own
  // title back where the server set one, if the terminal takes it by then.
  // Nothing here waits past `deadline`, whatever the console does.
  void End(std::chrono::steady_clock::time_point deadline);

  // Records left off the console since the start.
  std::uint64_t NotShown();

 private:
  [[noreturn]] void WriteRecords();
  // Writes a turn's blocks, slice by slice, until the backlog closes or
  // the console takes less than a slice.
  void WriteBlocks(const ConsoleBacklog::Turn& turn);
  // The end broke a write off inside a record.
  void CutAtTheEnd();
  [[noreturn]] void WriteReports();
  // From the records' writer: the title, if it is due.
  void UpdateTitle();
  // Held while writing, where both go to the same pipe or terminal, so that
  // a report never lands inside a record. Never held by the end, which
  // cannot wait for a write that may never finish.
  std::unique_lock<std::mutex> LockShared();

  std::optional<Output> form_;
  bool shared_ = false;
  // What ends a terminal's line, and its colour, where the end cut a
  // record short; none for other consoles.
  std::string lineEnd_;
  // The writer showed the banner, the first record it wrote.
  std::atomic<bool> bannerShown_{false};
  bool firstWrite_ = true;  // the writer's own
  // The end cut a record short.
  std::atomic<bool> recordCut_{false};
  std::mutex sharedStream_;
  bool recordsThreaded_ = false;
  bool reportsThreaded_ = false;
  ConsoleBacklog backlog_;
  ReportQueue reports_;
  // Where the terminal's title shows the server's figures.
  std::optional<TerminalTitle> title_;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_CONSOLE_H_
