#include "listener/server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "common/timestamp.h"
#include "listener/account.h"
#include "listener/console_writer.h"
#include "listener/drop_report.h"
#include "listener/log_file.h"
#include "listener/platform.h"
#include "records/priority.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

using Clock = DropReport::Clock;

// Datagrams asked for per receive call.
constexpr int kBatch = 16;
// Records gather in memory and are written once this much has gathered, and
// always before the server waits.
constexpr std::size_t kWriteThreshold = 64 * 1024;
// ... or once this many records have gathered, which bounds the list of
// where they end.
constexpr std::size_t kMaxGathered = 2048;
// A nap between batches while datagrams flow.
constexpr auto kNap = std::chrono::microseconds(100);
// Room for the longest record: time stamp, annotation and a whole datagram.
constexpr std::size_t kMaxRecord = kMaxDatagram + 256;

// Time stamp text for a moment of the local clock.
void Render(std::time_t time, char (&out)[kTimestampLength]) {
  std::tm local{};
  if (ToLocalTime(time, &local)) {
    FormatTimestamp(local, out);
  } else {
    std::copy(kUnknownTimestamp.begin(), kUnknownTimestamp.end(), out);
  }
}

// The arrival time: rendered once per second, not once per datagram.
class ArrivalClock {
 public:
  std::string_view Now() {
    const std::time_t now = std::time(nullptr);
    if (!valid_ || now != second_) {
      Render(now, text_);
      second_ = now;
      valid_ = true;
    }
    return std::string_view(text_, kTimestampLength);
  }

 private:
  bool valid_ = false;
  std::time_t second_ = 0;
  char text_[kTimestampLength] = {};
};

// The results of writes are deliberately not looked at: a console that is
// gone must not stop the records reaching the log file.
void Write(std::FILE* stream, std::string_view bytes) {
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// The message text: the datagram's bytes up to the first NUL.
std::string_view TextOf(const DatagramSlot& slot) {
  const auto size = static_cast<std::size_t>(slot.size);
  const void* nul = std::memchr(slot.data, '\0', size);
  return std::string_view(
      slot.data, nul != nullptr ? static_cast<std::size_t>(
                                      static_cast<const char*>(nul) - slot.data)
                                : size);
}

// After a failed receive, pause longer each time it fails again in a row, so
// that a lasting fault cannot spin a core.
void BackOff(int consecutiveFailures) {
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::min(consecutiveFailures, 100)));
}

// The datagram loop: drain the socket in batches, composing records into
// one buffer per output; write the buffers out before every wait.
class Receiver {
 public:
  Receiver(SocketHandle socket, std::string logName, std::FILE* log,
           bool annotate)
      : socket_(socket),
        log_(std::move(logName), log),
        annotate_(annotate),
        // Run as a daemon, the console is often the null device: skip it.
        consoleWanted_(!IsNullDevice(stdout)),
        console_(IsTerminal(stdout) ? Output::kTerminal : Output::kConsole) {
    static char storage[kBatch][kMaxDatagram];
    for (int i = 0; i < kBatch; ++i) slots_[i].data = storage[i];
    fileBytes_.reserve(kWriteThreshold + kMaxRecord);
    if (SeparateConsole()) consoleBytes_.reserve(kWriteThreshold + kMaxRecord);
    recordEnds_.reserve(kMaxGathered);
    // Without a thread of its own, the console is written in line, as a
    // last resort.
    if (consoleWanted_ && !consoleWriter_.Start()) writerless_ = true;
    // Where the system counts drops only for the whole machine, they are
    // asked for, and reported as growth since now.
    if (ReadMachineDrops(&dropCount_)) {
      machineDrops_.emplace(Clock::now());
      drops_ = DropReport(kMachineDropReportTail, dropCount_);
    }
  }

  // The banner: console first, then the file.
  void Announce(std::string_view banner) {
    const std::size_t end = banner.size();
    ToConsole(banner, std::span(&end, 1));
    Report(log_.Write(banner));
  }

  // A line for standard error. Through the console's writer where there is
  // one: standard error is often the same terminal, and when that is
  // paused, a write to it would stop the receive path.
  void Report(std::string_view line) {
    if (line.empty()) return;
    if (Writer()) {
      consoleWriter_.Report(std::string(line));
    } else {
      Write(stderr, line);
    }
  }

  [[noreturn]] void Run() {
    // Idle: the queue was found empty, so the next receive may block.
    bool idle = true;
    // Flowing: the last receive brought datagrams, so more are likely.
    bool flowing = false;
    int failures = 0;
    for (;;) {
      const int wait = idle ? WriteOutAndPause(flowing) : 0;
      if (machineDrops_) AskForMachineDrops();
      if (drops_.Pending()) ReportDrops();
      // Only the annotation shows the sender.
      const int received = ReceiveBatch(socket_, slots_, kBatch, kMaxDatagram,
                                        annotate_, wait, &dropCount_);
      // A failed receive writes no record.
      if (received < 0) {
        BackOff(++failures);
        idle = true;
        flowing = false;
        continue;
      }
      failures = 0;
      flowing = received > 0;
      if (flowing && machineDrops_) machineDrops_->Traffic();
      drops_.Observe(dropCount_);
      // Taken after the batch arrived, so after each of its datagrams.
      const std::string_view arrival = received > 0 ? clock_.Now() : "";
      for (int i = 0; i < received; ++i) {
        Compose(slots_[i], arrival);
        if (fileBytes_.size() >= kWriteThreshold ||
            recordEnds_.size() >= kMaxGathered) {
          WriteOut();
        }
      }
      idle = received < kBatch;
    }
  }

 private:
  // The console has a writer thread of its own.
  bool Writer() const { return consoleWanted_ && !writerless_; }

  // Without annotation or escapes both outputs carry the same bytes:
  // compose them once.
  bool SeparateConsole() const {
    return consoleWanted_ && (annotate_ || console_ == Output::kTerminal);
  }

  void Compose(const DatagramSlot& slot, std::string_view arrival) {
    const Message message{TextOf(slot), arrival, slot.senderNetOrder};
    const PriorityHeader header = ParsePriority(message.text);
    AppendRecord(fileBytes_, Output::kLogFile, message, header, annotate_);
    if (SeparateConsole()) {
      AppendRecord(consoleBytes_, console_, message, header, annotate_);
    }
    if (consoleWanted_) {
      recordEnds_.push_back(SeparateConsole() ? consoleBytes_.size()
                                              : fileBytes_.size());
    }
  }

  // The file first; the console's records go to its writer, which takes
  // them as fast as the console does: a console that lags or is paused
  // costs the console records, never the file.
  void WriteOut() {
    Report(log_.Write(fileBytes_));
    ToConsole(SeparateConsole() ? consoleBytes_ : fileBytes_, recordEnds_);
    fileBytes_.clear();
    consoleBytes_.clear();
    recordEnds_.clear();
  }

  void ToConsole(std::string_view records, std::span<const std::size_t> ends) {
    if (ends.empty()) return;
    if (Writer()) {
      consoleWriter_.Push(records, ends);
    } else if (consoleWanted_) {
      Write(stdout, records);
    }
  }

  // Before a receive that may wait: everything written, then, while
  // datagrams flow, a nap rather than a sleep in the receive (a sleeping
  // receiver costs the sender a wake-up per datagram or two, and the nap
  // lets a batch gather). Returns how long the receive may wait.
  int WriteOutAndPause(bool flowing) {
    WriteOut();
    if (!flowing) return UntilDropsAreDue(Clock::now());
    Nap(kNap);
    return 0;
  }

  // How long the receive may wait before a drop report or a question about
  // drops falls due; -1 when neither will.
  int UntilDropsAreDue(Clock::time_point now) const {
    const int report = drops_.MillisecondsUntilDue(now);
    const int ask =
        machineDrops_ ? machineDrops_->MillisecondsUntilDue(now) : -1;
    if (report < 0 || ask < 0) return std::max(report, ask);
    return std::min(report, ask);
  }

  void AskForMachineDrops() {
    const Clock::time_point now = Clock::now();
    if (!machineDrops_->Due(now)) return;
    if (ReadMachineDrops(&dropCount_)) drops_.Observe(dropCount_);
    machineDrops_->Asked(now);
  }

  void ReportDrops() { Report(drops_.Take(Clock::now())); }

  SocketHandle socket_;
  LogFile log_;
  bool annotate_;
  bool consoleWanted_;
  bool writerless_ = false;
  Output console_;
  DatagramSlot slots_[kBatch];
  std::string fileBytes_;
  std::string consoleBytes_;
  // Where each record of the batch ends in the bytes the console gets.
  std::vector<std::size_t> recordEnds_;
  ConsoleWriter consoleWriter_;
  ArrivalClock clock_;
  DropReport drops_;
  // The system's count of drops: the socket's since it was opened, or the
  // machine's.
  std::uint32_t dropCount_ = 0;
  std::optional<DropPoll> machineDrops_;
};

}  // namespace

void ExitWith(int code, std::string_view text) {
  Write(stdout, text);
  std::fflush(nullptr);
  std::exit(code);
}

std::string LogFileName(const Settings& settings) {
  if (!settings.outputFileName.empty()) return settings.outputFileName;
  return Concat(kLogNameHead, std::to_string(settings.port), kLogNameTail);
}

std::string BannerText(std::int16_t port, std::string_view timestamp) {
  std::string text = Concat(kBannerHead, std::to_string(port), kBannerMiddle);
  text.append(timestamp);
  text.push_back('\n');
  return text;
}

Startup StartServer(const Settings& settings) {
  Startup startup;
  const std::string logName = LogFileName(settings);
  startup.log = OpenLogFile(logName);
  if (startup.log == nullptr) {
    startup.failure = Concat(kOpenLogHead, logName, kOpenLogTail);
    startup.exitCode = kExitOpenLog;
    return startup;
  }
  if (!StartSockets()) {
    startup.failure = kSocketStartFailed;
    startup.exitCode = kExitSocketStart;
    return startup;
  }
  startup.socket = OpenUdpSocket();
  if (startup.socket < 0) {
    startup.failure = kSocketFailed;
    startup.exitCode = kExitSocket;
    return startup;
  }
  // The port is bound as unsigned 16 bits but printed signed.
  if (!BindAnyIPv4(startup.socket, static_cast<std::uint16_t>(settings.port))) {
    startup.failure =
        Concat(kBindHead, std::to_string(settings.port), kBindTail);
    startup.exitCode = kExitBind;
  }
  return startup;
}

void RunServer(const Settings& settings) {
  const Startup startup = StartServer(settings);
  if (!startup.started()) ExitWith(startup.exitCode, startup.failure);
  // The server gathers each output's bytes itself and writes them in one
  // piece: stream buffers would only copy them again. Standard error too:
  // a report held in a buffer (Windows buffers it when redirected) would
  // never be seen.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  Receiver receiver(startup.socket, LogFileName(settings), startup.log,
                    settings.annotate);
  char started[kTimestampLength];
  Render(std::time(nullptr), started);
  receiver.Announce(
      BannerText(settings.port, std::string_view(started, kTimestampLength)));
  if (!DropPrivileges()) {
    receiver.Report(Concat(kPrivilegesKeptHead, kUnprivilegedUser, "\n"));
  }
  receiver.Run();
}

}  // namespace syslog_listen
