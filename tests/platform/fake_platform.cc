#include "platform/fake_platform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace syslog_listen {

namespace fake {
Script script;
}  // namespace fake

using fake::script;

void PrepareProcess() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool RunAsService(const std::function<void()>&) { return false; }

void ReportRunning() {}

void EndProcess(int code, std::string_view) { std::exit(code); }

void WriteReport(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// To standard output: on standard error, marked.
void WriteText(std::FILE* stream, std::string_view text) {
  if (stream == stdout)
    std::fprintf(stderr, "[console]%.*s", static_cast<int>(text.size()),
                 text.data());
}

bool OutputsShareStream() { return script.shared; }

FileBytes FileText(std::string_view bytes, std::span<const std::size_t> ends) {
  return {bytes, ends};
}

FileWrite WriteToFile(std::FILE*, std::string_view bytes) {
  if (script.diskFull) return {0, FileWrite::Failure::kFull};
  return {bytes.size()};
}

bool IsNullDevice(std::FILE*) { return false; }

bool IsTerminal(std::FILE*) { return script.terminal; }

bool TerminalColours() { return false; }

bool TitleSettable() { return false; }

void SetTitle(std::string_view) {}

bool RestoreTitle() { return true; }

std::FILE* OpenLogFile(const std::string& name, bool) {
  script.calls.push_back("open " + name);
  // Any open stream will do: the tests only look at what start-up returns.
  return script.openLog ? stdout : nullptr;
}

bool IsRegularFile(std::FILE*) { return true; }

NameState LookAtName(const std::string&, std::FILE*) {
  return NameState::kOpenFile;
}

FileLinks LinksOf(std::FILE*) { return FileLinks::kNamed; }

bool StartSockets() {
  script.calls.push_back("start");
  return script.startSockets;
}

SocketHandle OpenUdpSocket() {
  script.calls.push_back("socket");
  return script.openSocket ? 7 : -1;
}

bool BindAnyIPv4(SocketHandle, std::uint16_t port) {
  script.calls.push_back("bind " + std::to_string(port));
  return script.bind;
}

int LastSystemError() { return 0; }

std::string WhyOpenFailed(const std::string&, int) { return ""; }

std::string WhyBindFailed(std::uint16_t, int) { return ""; }

std::optional<std::vector<std::string>> LocalAddresses() {
  return std::vector<std::string>{};
}

std::string FirewallAdvice(std::uint16_t) { return ""; }

long GrantedReceiveQueue(SocketHandle) { return script.grantedQueue; }

struct DatagramReceiver::Batch {};

DatagramReceiver::DatagramReceiver(SocketHandle, int, bool) {}

DatagramReceiver::~DatagramReceiver() = default;

// A run: every wait is shown on standard error, and the first that brings
// nothing ends it.
int DatagramReceiver::Receive(int waitMs) {
  std::fprintf(stderr, "wait %d\n", waitMs);
  const int count = std::exchange(script.firstBatch, 0);
  if (count == 0) {
    script.stop = true;
    return 0;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  for (int i = 0; i < count; ++i) datagrams_[i].bytes = "<13>x";
  script.machineDrops = script.machineDrops.value_or(0) + 5;
  script.diskFull = true;
  return count;
}

DropScope ReadDropCount(SocketHandle, std::uint32_t* count) {
  if (!script.machineDrops) return DropScope::kNone;
  *count = *script.machineDrops;
  return DropScope::kMachine;
}

std::string FullPath(const std::string& name) { return name; }

bool ReportWouldStartMidLine() { return false; }

ConsoleOwners LookAtConsole() { return {}; }

void WaitForKey() {}

void WatchForStop() {}

bool StopRequested() { return script.stop; }

void EndAfterStop() { std::_Exit(0); }

namespace {
std::mutex consoleMutex;
std::condition_variable consoleGivenUp;
bool givenUp = false;
}  // namespace

// Takes what the script allows, then stalls until the writes are given up.
std::size_t WriteToConsole(std::span<const std::string_view> pieces) {
  std::size_t size = 0;
  for (const std::string_view piece : pieces) size += piece.size();
  if (!script.consoleTakes) return size;
  std::unique_lock lock(consoleMutex);
  const std::size_t taken = std::min(size, *script.consoleTakes);
  *script.consoleTakes -= taken;
  if (taken < size) {
    consoleGivenUp.wait_for(lock, std::chrono::seconds(20),
                            [] { return givenUp; });
  }
  return taken;
}

void GiveUpConsoleWrites() {
  std::lock_guard lock(consoleMutex);
  givenUp = true;
  consoleGivenUp.notify_all();
}

bool ConsoleGone() { return false; }

void ReturnFreeMemory() {}

void LowerThreadPriority() {}

bool Nap(std::chrono::microseconds) { return true; }

bool DropPrivileges() { return true; }

bool ToLocalTime(std::time_t, std::tm*) { return false; }

}  // namespace syslog_listen
