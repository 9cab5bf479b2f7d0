#include "server/server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <span>
#include <thread>

#include "common/deadline.h"
#include "common/messages.h"
#include "common/timestamp.h"
#include "platform/platform.h"
#include "server/console.h"
#include "server/drop_report.h"
#include "server/gathered.h"
#include "server/log_file.h"
#include "server/run_report.h"

namespace syslog_listen {

namespace {

using Clock = std::chrono::steady_clock;

// A nap between batches while datagrams flow.
constexpr auto kNap = std::chrono::microseconds(100);
// At a stop: how long the socket's queue may take to drain, and the console
// to show what it was given.
constexpr auto kStopDrainLimit = std::chrono::seconds(2);
constexpr auto kStopConsoleLimit = std::chrono::seconds(1);
// ... and then the account and the terminal's title.
constexpr auto kStopAccountLimit = std::chrono::milliseconds(500);
// At the start: how long the banner may take to show on the console before
// the start-up line follows it anyway.
constexpr auto kBannerShownLimit = std::chrono::milliseconds(500);
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

// After a failed receive, pause longer each time it fails again in a row, so
// that a lasting fault cannot spin a core.
void BackOff(int consecutiveFailures) {
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::min(consecutiveFailures, 100)));
}

std::chrono::seconds SecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
}

// The hint's line for `port` if it is due at `now`, else "".
std::string HintIfDue(QuietHint& hint, std::uint16_t port,
                      Clock::time_point now) {
  if (!hint.Due(now)) return "";
  return NothingReceivedLine(port, LocalAddresses(), FirewallAdvice(port));
}

// The title's figures as the receive path knows them.
TitleFigures FiguresOf(std::uint16_t port, const RunTally& tally,
                       const DropMonitor& drops) {
  return {.port = port,
          .received = tally.datagrams(),
          .dropped = drops.Dropped(),
          .machine = drops.MachineWide(),
          .senders = tally.senders()};
}

// The datagram loop: drain the socket in batches, composing records into
// one buffer per output; write the buffers out before every wait.
class Receiver {
 public:
  Receiver(const Startup& startup, bool annotate)
      : port_(startup.port),
        annotate_(annotate),
        started_(Clock::now()),
        hint_(started_),
        log_(startup.logName, startup.log),
        // Only the annotation shows the sender.
        datagrams_(startup.socket, kMaxDatagram, annotate),
        gathered_(console_.form(), annotate),
        drops_(startup.socket, Clock::now()) {
    // Before the console's threads start: a capability is dropped per
    // thread, and one started earlier would keep it. After the console has
    // looked at the terminal, which root may own.
    privilegesDropped_ = DropPrivileges();
    console_.Start(port_);
  }

  // The banner, console first, then the file; then where the server
  // listens and writes, and what the user should know of the user the
  // server runs as.
  void Announce(std::string_view banner, const std::string& logPath) {
    const std::size_t end = banner.size();
    if (console_.form()) console_.Push(banner, std::span(&end, 1));
    const std::string written = log_.Write(banner, std::span(&end, 1));
    // Where both show on one screen, the start-up line follows the banner;
    // a console that takes nothing holds up the start only so long.
    if (console_.form()) console_.Flush(Clock::now() + kBannerShownLimit);
    console_.Report(
        {ListeningLine(port_, LocalAddresses(), logPath), written,
         privilegesDropped_ ? "" : Fill(kPrivilegesKept, kUnprivilegedUser),
         log_.CheckFollowable()});
  }

  [[noreturn]] void Run() {
    // Even the first wait ends when the hint is due: the hint is for a
    // server that never receives anything.
    int wait = DoWhatIsDue(Clock::now());
    int failures = 0;
    while (!StopRequested()) {
      const int received = datagrams_.Receive(wait);
      failures = received < 0 ? failures + 1 : 0;
      Compose(received);
      // More are queued: they are taken before anything is written.
      if (received == DatagramReceiver::kBatch) {
        wait = 0;
        continue;
      }
      // Everything is written before the next look (a failed receive
      // writes no record).
      WriteOut();
      if (failures > 0) BackOff(failures);
      // While datagrams flow, a nap rather than a sleep in the receive: a
      // sleeping receiver costs the sender a wake-up per datagram or two,
      // and the nap lets a batch gather. Where the system cannot nap that
      // briefly, looking again at once would only find the queue as empty
      // as it just was.
      wait = received > 0 && Nap(kNap) ? 0 : DoWhatIsDue(Clock::now());
    }
    Stop();
  }

 private:
  // Composes a batch's records, writing them out whenever enough have
  // gathered, then looks at the drops and cuts, whose reports come before
  // what writing the batch brings. False for no batch, or a failure.
  bool Compose(int received) {
    if (received <= 0) return false;
    hint_.Received();
    // Taken after the batch arrived, so after each of its datagrams.
    const std::string_view arrival = clock_.Now();
    for (int i = 0; i < received; ++i) {
      const Datagram& datagram = datagrams_[i];
      const bool cutAtNul = gathered_.Add(datagram, arrival);
      tally_.Datagram(datagram.bytes.size());
      // The sender only where the receive asked for it.
      if (annotate_) tally_.Sender(datagram.senderNetOrder);
      drops_.Received(datagram, cutAtNul, annotate_);
      if (gathered_.Full()) WriteOut();
    }
    CheckCounts(Clock::now());
    return true;
  }

  // The file first; the console's records go to its writer, which takes
  // them as fast as the console does: a console that lags or is paused
  // costs the console records, never the file.
  void WriteOut() {
    console_.Report(log_.Write(gathered_.file(), gathered_.fileEnds()));
    console_.Push(gathered_.console(), gathered_.consoleEnds());
    gathered_.Clear();
  }

  // Reports drops and cuts when due, and gives the title its figures.
  void CheckCounts(Clock::time_point now) {
    console_.Report(drops_.Check(now));
    if (console_.titled()) console_.Figures(FiguresOf(port_, tally_, drops_));
  }

  // Before a wait: drops, cuts, title figures and the hint when due; returns
  // how long the receive may wait before one of them, or another try of a
  // log file that takes nothing, is due (kNever: no end).
  int DoWhatIsDue(Clock::time_point now) {
    CheckCounts(now);
    // Not on the way out: a stop is no sign of a sender that cannot reach
    // the server.
    if (!StopRequested()) console_.Report(HintIfDue(hint_, port_, now));
    const int wait = Sooner(drops_.MillisecondsUntilDue(now),
                            hint_.MillisecondsUntilDue(now));
    return log_.Holding() ? Sooner(wait, kRetryWriteMs) : wait;
  }

  // Asked to stop: what the socket already holds is recorded too, and the
  // console gets a moment to show it, before the process ends.
  [[noreturn]] void Stop() {
    // After the "^C" a terminal echoed, what is reported starts a line.
    if (ReportWouldStartMidLine()) console_.Report("\n");
    const Clock::time_point drained = Clock::now() + kStopDrainLimit;
    while (Clock::now() < drained && Compose(datagrams_.Receive(0))) {
    }
    WriteOut();
    console_.Report(log_.Finish());
    console_.Report(drops_.Finish());
    // What the console has not shown by then, it never will: the account
    // counts it.
    const Clock::time_point shown = Clock::now() + kStopConsoleLimit;
    console_.StopRecords(shown);
    console_.Report(tally_.Account(SecondsSince(started_),
                                   drops_.Lost(console_.NotShown())));
    console_.End(Clock::now() + kStopAccountLimit);
    EndAfterStop();
  }

  std::uint16_t port_;
  bool annotate_;
  Clock::time_point started_;
  RunTally tally_;
  QuietHint hint_;
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
  if (WaitsForKeyAtEnd(code, LookAtConsole())) {
    WriteReport(kPressAKey);
    WaitForKey();
  }
  EndProcess(code, text);
}

bool WaitsForKeyAtEnd(int exitCode, const ConsoleOwners& console) {
  return exitCode != 0 && console.processes == 1 && console.input &&
         console.error;
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
  startup.logName = LogFileName(settings);
  // The port is bound as unsigned 16 bits but printed signed.
  startup.port = static_cast<std::uint16_t>(settings.port);
  startup.log = OpenLogFile(startup.logName);
  if (startup.log == nullptr) {
    const int error = LastSystemError();
    startup.why = [name = startup.logName, error] {
      return WhyOpenFailed(name, error);
    };
    startup.failure = Fill(kOpenLogFailed, startup.logName);
    startup.exitCode = kExitOpenLog;
    return startup;
  }
  startup.logPath = FullPath(startup.logName);
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
  if (!BindAnyIPv4(startup.socket, startup.port)) {
    const int error = LastSystemError();
    startup.why = [port = startup.port, error] {
      return WhyBindFailed(port, error);
    };
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
  Receiver receiver(startup, settings.annotate);
  char started[kTimestampLength];
  Render(std::time(nullptr), started);
  receiver.Announce(
      BannerText(settings.port, std::string_view(started, kTimestampLength)),
      startup.logPath);
  ReportRunning();
  receiver.Run();
}

}  // namespace syslog_listen
