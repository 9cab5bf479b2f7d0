#include "listener/server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "common/messages.h"
#include "common/timestamp.h"
#include "listener/platform.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

// Output buffers: records are flushed before every wait anyway, so a tty
// gains nothing from line buffering, which would cost a write per line.
constexpr std::size_t kStreamBuffer = 64 * 1024;

// The current local time as time stamp text.
void Now(char (&out)[kTimestampLength]) {
  std::tm local{};
  if (ToLocalTime(std::time(nullptr), &local)) {
    FormatTimestamp(local, out);
  } else {
    std::copy(kUnknownTimestamp.begin(), kUnknownTimestamp.end(), out);
  }
}

// The results of writes and flushes are deliberately not looked at: a
// console that is gone must not stop the records reaching the log file.
void Write(std::FILE* stream, std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::string Concat(std::string_view head, std::string_view value,
                   std::string_view tail) {
  std::string text(head);
  text.append(value);
  text.append(tail);
  return text;
}

// After a failed receive, pause longer each time it fails again in a row, so
// that a lasting fault cannot spin a core.
void BackOff(int consecutiveFailures) {
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::min(consecutiveFailures, 100)));
}

[[noreturn]] void ReceiveForever(SocketHandle socket, std::FILE* log,
                                 bool annotate) {
  static char buffer[kMaxDatagram];
  std::string consoleRecord;
  std::string fileRecord;
  int failures = 0;
  for (;;) {
    // Whenever the server waits, every record so far is in the file.
    std::fflush(log);
    std::fflush(stdout);
    Message message;
    const int received =
        ReceiveDatagram(socket, buffer, kMaxDatagram, &message.senderNetOrder);
    // A failed receive writes no record; an empty datagram is empty text.
    if (received < 0) {
      BackOff(++failures);
      continue;
    }
    failures = 0;
    const auto size = static_cast<std::size_t>(received);
    const void* nul = std::memchr(buffer, '\0', size);
    message.text = std::string_view(
        buffer, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) -
                                               buffer)
                    : size);
    char arrival[kTimestampLength];
    Now(arrival);
    message.arrivalTime = std::string_view(arrival, kTimestampLength);
    consoleRecord.clear();
    fileRecord.clear();
    AppendRecord(consoleRecord, Output::kConsole, message, annotate);
    AppendRecord(fileRecord, Output::kLogFile, message, annotate);
    Write(stdout, consoleRecord);
    Write(log, fileRecord);
  }
}

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
  std::setvbuf(stdout, nullptr, _IOFBF, kStreamBuffer);
  const Startup startup = StartServer(settings);
  if (!startup.started()) ExitWith(startup.exitCode, startup.failure);
  std::setvbuf(startup.log, nullptr, _IOFBF, kStreamBuffer);
  char started[kTimestampLength];
  Now(started);
  const std::string banner =
      BannerText(settings.port, std::string_view(started, kTimestampLength));
  Write(stdout, banner);
  Write(startup.log, banner);
  ReceiveForever(startup.socket, startup.log, settings.annotate);
}

}  // namespace syslog_listen
