#include "server/server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "common/timestamp.h"
#include "platform/account.h"
#include "server/console.h"
#include "server/drop_report.h"
#include "server/log_file.h"
#include "platform/platform.h"
#include "server/run_report.h"
#include "records/priority.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

using Clock = std::chrono::steady_clock;

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
// At a stop: how long the socket's queue may take to drain, and the console
// to show what it was given.
constexpr auto kStopDrainLimit = std::chrono::seconds(2);
constexpr auto kStopConsoleLimit = std::chrono::seconds(1);
// ... and then the account and the terminal's title.
constexpr auto kStopAccountLimit = std::chrono::milliseconds(500);
// While records wait for a log file that takes none (a full disk), how long
// the receive may wait before the file is tried again.
constexpr int kRetryWriteMs = 1000;

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

// The message text: the datagram's bytes up to the first NUL.
std::string_view TextOf(const Datagram& datagram) {
  return datagram.bytes.substr(0, datagram.bytes.find('\0'));
}

// The sooner of two waits in milliseconds, -1 standing for no end.
int Sooner(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

// After a failed receive, pause longer each time it fails again in a row, so
// that a lasting fault cannot spin a core.
void BackOff(int consecutiveFailures) {
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::min(consecutiveFailures, 100)));
}

// Records composed since the last write: the file's bytes, the console's
// where they differ (annotation wording, escapes), and where each record
// ends in each (one list when the console takes the file's bytes).
class Gathered {
 public:
  Gathered(std::optional<Output> console, bool annotate)
      : console_(console), annotate_(annotate) {
    file_.reserve(kWriteThreshold + kMaxRecord);
    if (!console_) {
      shown_ = nullptr;
    } else if (annotate_ || *console_ != Output::kConsole) {
      consoleBytes_.reserve(kWriteThreshold + kMaxRecord);
      consoleEnds_.reserve(kMaxGathered);
      shown_ = &consoleBytes_;
    }
    fileEnds_.reserve(kMaxGathered);
  }
  Gathered(const Gathered&) = delete;
  Gathered& operator=(const Gathered&) = delete;

  void Add(const Datagram& datagram, std::string_view arrival) {
    const Message message{TextOf(datagram), arrival, datagram.senderNetOrder};
    const PriorityHeader header = ParsePriority(message.text);
    AppendRecord(file_, Output::kLogFile, message, header, annotate_);
    fileEnds_.push_back(file_.size());
    if (shown_ == nullptr || shown_ == &file_) return;
    AppendRecord(*shown_, *console_, message, header, annotate_);
    consoleEnds_.push_back(shown_->size());
  }

  bool Full() const {
    return file_.size() >= kWriteThreshold || fileEnds_.size() >= kMaxGathered;
  }
  const std::string& file() const { return file_; }
  std::span<const std::size_t> fileEnds() const { return fileEnds_; }
  std::string_view console() const {
    return shown_ != nullptr ? *shown_ : std::string_view();
  }
  std::span<const std::size_t> ends() const {
    if (shown_ == nullptr) return {};
    return shown_ == &file_ ? fileEnds_ : consoleEnds_;
  }

  void Clear() {
    file_.clear();
    consoleBytes_.clear();
    consoleEnds_.clear();
    fileEnds_.clear();
  }

 private:
  std::optional<Output> console_;
  bool annotate_;
  std::string file_;
  std::string consoleBytes_;
  // The console's bytes: the file's when both are the same, none without
  // a console.
  std::string* shown_ = &file_;
  std::vector<std::size_t> fileEnds_;
  std::vector<std::size_t> consoleEnds_;
};

// The datagram loop: drain the socket in batches, composing records into
// one buffer per output; write the buffers out before every wait.
class Receiver {
 public:
  Receiver(SocketHandle socket, std::uint16_t port, std::string logName,
           std::FILE* log, bool annotate)
      : socket_(socket),
        port_(port),
        annotate_(annotate),
        started_(Clock::now()),
        hint_(started_),
        log_(std::move(logName), log),
        // Only the annotation shows the sender.
        datagrams_(socket, kMaxDatagram, annotate),
        gathered_(console_.form(), annotate),
        drops_(socket, Clock::now()) {
    // Before the console's threads start: a capability is dropped per
    // thread, and one started earlier would keep it. After the console has
    // looked at the terminal, which root may own.
    privilegesDropped_ = DropPrivileges();
    console_.Start(port_);
  }

  // The banner: console first, then the file.
  void Announce(std::string_view banner) {
    const std::size_t end = banner.size();
    if (console_.form()) console_.Push(banner, std::span(&end, 1));
    console_.Report(log_.Write(banner, std::span(&end, 1)));
  }

  // Once the banner is out: what the user should know of the user the
  // server runs as.
  void Settle() {
    if (!privilegesDropped_) {
      console_.Report(Fill(kPrivilegesKept, kUnprivilegedUser));
    }
    console_.Report(log_.CheckFollowable());
  }

  [[noreturn]] void Run() {
    // Even the first wait ends when the hint is due: the hint is for a
    // server that never receives anything.
    int wait = UntilSomethingIsDue();
    int failures = 0;
    while (!StopRequested()) {
      const int received = datagrams_.Receive(wait);
      if (received < 0) {
        // A failed receive writes no record; those before it are written.
        WriteOut();
        BackOff(++failures);
        wait = UntilSomethingIsDue();
        continue;
      }
      failures = 0;
      Take(received);
      if (received == DatagramReceiver::kBatch) {
        wait = 0;  // more are queued: take them before writing
        continue;
      }
      // The queue is empty for now: everything is written before the next
      // look. While datagrams flow, a nap rather than a sleep in the
      // receive: a sleeping receiver costs the sender a wake-up per
      // datagram or two, and the nap lets a batch gather. Where the system
      // cannot nap that briefly, looking again at once would only find the
      // queue as empty as it just was.
      WriteOut();
      wait = received > 0 && Nap(kNap) ? 0 : UntilSomethingIsDue();
    }
    Stop();
  }

 private:
  // Composes a batch's records, writing them out whenever enough have
  // gathered. Nothing for an empty batch or a failed receive.
  void Take(int received) {
    if (received <= 0) return;
    drops_.Traffic();
    hint_.Received();
    // Taken after the batch arrived, so after each of its datagrams.
    const std::string_view arrival = clock_.Now();
    for (int i = 0; i < received; ++i) {
      gathered_.Add(datagrams_[i], arrival);
      tally_.Datagram(datagrams_[i].bytes.size());
      if (annotate_) tally_.Sender(datagrams_[i].senderNetOrder);
      if (gathered_.Full()) WriteOut();
    }
    ReportDrops(drops_.Check(Clock::now()));
    ShowFigures();
  }

  // What the terminal's title shows, where there is one.
  void ShowFigures() {
    if (!console_.titled()) return;
    console_.Figures({.port = port_,
                      .received = tally_.datagrams(),
                      .dropped = drops_.Dropped(),
                      .machine = drops_.MachineWide(),
                      .senders = tally_.senders()});
  }

  // The file first; the console's records go to its writer, which takes
  // them as fast as the console does: a console that lags or is paused
  // costs the console records, never the file.
  void WriteOut() {
    console_.Report(log_.Write(gathered_.file(), gathered_.fileEnds()));
    if (!gathered_.ends().empty()) {
      console_.Push(gathered_.console(), gathered_.ends());
    }
    gathered_.Clear();
  }

  // Reports drops, and the hint that nothing has arrived, when due;
  // returns how long the receive may wait before one of them, or a try of
  // the log file that takes nothing, is due (-1: as long as it takes).
  int UntilSomethingIsDue() {
    const Clock::time_point now = Clock::now();
    ReportDrops(drops_.Check(now));
    ShowFigures();
    // Not on the way out: a stop is no sign of a sender that cannot reach
    // the server.
    if (!StopRequested() && hint_.Due(now)) {
      console_.Report(
          NothingReceivedLine(port_, LocalAddresses(), FirewallAdvice(port_)));
    }
    int wait = Sooner(drops_.MillisecondsUntilDue(now),
                      hint_.MillisecondsUntilDue(now));
    return log_.Holding() ? Sooner(wait, kRetryWriteMs) : wait;
  }

  // A drop report, the first with why the system dropped datagrams where
  // it granted a smaller queue than asked for.
  void ReportDrops(std::string line) {
    if (line.empty()) return;
    console_.Report(std::move(line));
    if (queueExplained_) return;
    queueExplained_ = true;
    const long granted = GrantedReceiveQueue(socket_);
    if (granted >= 0 && granted < kReceiveQueueBytes) {
      console_.Report(Fill(kSmallQueue,
                           GroupedDecimal(static_cast<std::uint64_t>(granted)),
                           GroupedDecimal(kReceiveQueueBytes)));
    }
  }

  // Asked to stop: what the socket already holds is recorded too, and the
  // console gets a moment to show it, before the process ends.
  [[noreturn]] void Stop() {
    const Clock::time_point deadline = Clock::now() + kStopDrainLimit;
    int received;
    do {
      received = datagrams_.Receive(0);
      Take(received);
    } while (received > 0 && Clock::now() < deadline);
    WriteOut();
    console_.Report(log_.Finish());
    ReportDrops(drops_.Last());
    // What the console has not shown by then, it never will: the account
    // counts it.
    const Clock::time_point shown = Clock::now() + kStopConsoleLimit;
    console_.Flush(shown);
    console_.StopRecords();
    console_.Report(tally_.Account(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() -
                                                         started_),
        drops_.SocketDrops(), console_.NotShown()));
    console_.End(shown + kStopAccountLimit);
    EndAfterStop();
  }

  SocketHandle socket_;
  std::uint16_t port_;
  bool annotate_;
  Clock::time_point started_;
  RunTally tally_;
  QuietHint hint_;
  bool queueExplained_ = false;
  bool privilegesDropped_ = false;
  Console console_;
  LogFile log_;
  DatagramReceiver datagrams_;
  Gathered gathered_;
  ArrivalClock clock_;
  DropMonitor drops_;
};

}  // namespace

void ExitWith(int code, std::string_view text,
              const std::function<std::string()>& why) {
  std::fflush(nullptr);
  WriteText(stdout, text);
  // Only once the fixed text is out: finding why may take a moment.
  if (why) {
    const std::string line = why();
    if (!line.empty()) WriteReport(line);
  }
  EndProcess(code, text);
}

std::string LogFileName(const Settings& settings) {
  if (!settings.outputFileName.empty()) return settings.outputFileName;
  return Fill(kDefaultLogName, std::to_string(settings.port));
}

std::string BannerText(std::int16_t port, std::string_view timestamp) {
  return Fill(kBanner, std::to_string(port), std::string(timestamp) + "\n");
}

Startup StartServer(const Settings& settings) {
  Startup startup;
  const std::string logName = LogFileName(settings);
  startup.log = OpenLogFile(logName);
  if (startup.log == nullptr) {
    const int error = LastSystemError();
    startup.why = [logName, error] { return WhyOpenFailed(logName, error); };
    startup.failure = Fill(kOpenLogFailed, logName);
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
  const auto port = static_cast<std::uint16_t>(settings.port);
  if (!BindAnyIPv4(startup.socket, port)) {
    const int error = LastSystemError();
    startup.why = [port, error] { return WhyBindFailed(port, error); };
    startup.failure = Fill(kBindFailed, std::to_string(settings.port));
    startup.exitCode = kExitBind;
  }
  return startup;
}

void RunServer(const Settings& settings) {
  const Startup startup = StartServer(settings);
  if (!startup.started()) {
    ExitWith(startup.exitCode, startup.failure, startup.why);
  }
  // The server gathers each output's bytes itself and writes them in one
  // piece: stream buffers would only copy them again. Standard error too:
  // a report held in a buffer (Windows buffers it when redirected) would
  // never be seen.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // From here on a stop request lets the server keep what it holds first.
  WatchForStop();
  Receiver receiver(startup.socket, static_cast<std::uint16_t>(settings.port),
                    LogFileName(settings), startup.log, settings.annotate);
  char started[kTimestampLength];
  Render(std::time(nullptr), started);
  receiver.Announce(
      BannerText(settings.port, std::string_view(started, kTimestampLength)));
  receiver.Settle();
  ReportRunning();
  receiver.Run();
}

}  // namespace syslog_listen
