// Windows side of the platform seam, the process: its standard streams and
// UTF-16 command line, the service that the same executable is when the
// Service Control Manager starts it, requests to stop (console events and
// the manager's controls alike) and the process's end. The service and the
// stop stay together: each calls into the other. The console is in
// console_win32.cc, the log file in files_win32.cc, the socket in
// socket_win32.cc.
// windows.h must precede tlhelp32.h.
// clang-format off
#include <windows.h>
#include <io.h>
#include <tlhelp32.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/win32_text.h"

// The C runtime's own split of the UTF-16 command line, as for argv.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                              int expandWildcards, int* startInfo);

namespace syslog_listen {

namespace {

using win32::Utf8;
using win32::Wide;

// The service's name, and the source of its lines in the event log.
constexpr wchar_t kServiceName[] = L"syslog-listen";

// Standard streams that had no handle and got the null device from us.
bool nullStream[3] = {};

// A standard stream without a handle gets the null device, so that writes
// to it go nowhere instead of to a file opened later.
void OpenOnNullDevice(FILE* stream, int fd, const char* mode) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle == -1 || handle == -2) {
    nullStream[fd] = std::freopen("NUL", mode, stream) != nullptr;
  }
}

// Set, and never reset, by a request to stop; a waiting receive wakes for
// it.
HANDLE stopEvent = nullptr;
// Set once the server has kept what it held, so that the process may end.
HANDLE stoppedEvent = nullptr;
std::atomic<bool> stopRequested{false};
// How long a console event holds the process open at most: the system ends
// it after 5 s anyway when the window is closed.
constexpr DWORD kStopHoldMs = 4000;

// True once a request to stop had been made before.
bool RequestStop() {
  if (stopRequested.exchange(true)) return true;
  if (stopEvent != nullptr) SetEvent(stopEvent);
  return false;
}

// The service, when the Service Control Manager started the process.
struct Service {
  bool running = false;  // ServiceMain has been called
  SERVICE_STATUS_HANDLE handle = nullptr;
  HANDLE eventLog = nullptr;
  std::function<void()> serve;
};
Service service;

void ReportServiceStatus(DWORD state, int exitCode = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                               : 0;
  if (exitCode != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  // The stop drains the socket for at most 2 s, the console 1 s more.
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
    status.dwWaitHint = 5000;
  }
  SetServiceStatus(service.handle, &status);
}

// A line to the Application event log; its text is the event's only
// string, which the executable's message table shows as it is.
void LogEvent(WORD type, std::string_view line) {
  if (service.eventLog == nullptr) {
    service.eventLog = RegisterEventSourceW(nullptr, kServiceName);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  const std::wstring text = Wide(line);
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(service.eventLog, type, 0, /*event id, message "%1"*/ 1, nullptr,
               1, 0, strings, nullptr);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      ReportServiceStatus(SERVICE_STOP_PENDING);
      RequestStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  service.handle =
      RegisterServiceCtrlHandlerExW(kServiceName, OnServiceControl, nullptr);
  if (service.handle == nullptr) return;
  service.running = true;
  ReportServiceStatus(SERVICE_START_PENDING);
  service.serve();  // ends the process
}

// True when the Service Control Manager (services.exe) started the process.
// Asked of the process list rather than by trying the dispatcher, which
// under wine takes 10 s to fail in a console.
bool ParentIsServiceManager() {
  const std::vector<win32::ProcessEntry> processes = win32::ListProcesses();
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  for (const win32::ProcessEntry& entry : processes) {
    if (entry.id == self) {
      parent = entry.parent;
      break;
    }
  }
  if (parent == 0) return false;
  for (const win32::ProcessEntry& entry : processes) {
    if (entry.id == parent &&
        _wcsicmp(entry.executable.c_str(), L"services.exe") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<win32::ProcessEntry> win32::ListProcesses() {
  std::vector<ProcessEntry> processes;
  const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    processes.push_back(
        {entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return processes;
}

void PrepareProcess(bool selectable) {
  OpenOnNullDevice(stdin, 0, "r");
  OpenOnNullDevice(stdout, 1, "w");
  OpenOnNullDevice(stderr, 2, "w");
  win32::PrepareConsole(selectable);
}

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  int startInfo = 0;
  std::vector<std::string> arguments;
  if (__wgetmainargs(&count, &wide, &environment, 0, &startInfo) != 0) {
    return arguments;
  }
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  return arguments;
}

bool RunAsService(const std::function<void()>& serve) {
  if (!ParentIsServiceManager()) return false;
  service.serve = serve;
  const SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
  // Started by the manager, the process serves only as its service. Run as
  // a console program instead, it would write a banner for a start the
  // manager counts as failed, hold the port against the start retried, and
  // be ended by the manager all the same.
  if (StartServiceCtrlDispatcherW(table) == 0) {
    LogEvent(EVENTLOG_ERROR_TYPE, kServiceUnreachable);
    std::exit(kExitService);
  }
  return true;
}

void ReportRunning() {
  if (service.running) ReportServiceStatus(SERVICE_RUNNING);
}

void EndProcess(int code, std::string_view message) {
  if (service.running) {
    if (!message.empty()) LogEvent(EVENTLOG_ERROR_TYPE, message);
    ReportServiceStatus(SERVICE_STOPPED, code);
  }
  std::exit(code);
}

void WriteReport(std::string_view line) {
  if (service.running) {
    LogEvent(EVENTLOG_WARNING_TYPE, line);
  } else {
    WriteText(stderr, line);
  }
}

// A NUL we opened is known; one inherited cannot be told from a serial
// port or a printer by its file type, and those must be written.
bool IsNullDevice(std::FILE* stream) {
  const int fd = _fileno(stream);
  return fd >= 0 && fd <= 2 && nullStream[fd];
}

namespace {

// Runs on a thread of its own for each console event.
BOOL WINAPI OnConsoleEvent(DWORD) {
  if (RequestStop()) {
    // Asked twice: the default handler, next, ends the process at once.
    win32::RestoreConsole();
    return FALSE;
  }
  // Returning lets the default handler end the process: first let the
  // server keep what it holds.
  WaitForSingleObject(stoppedEvent, kStopHoldMs);
  return FALSE;
}

}  // namespace

void WatchForStop() {
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent != nullptr && stoppedEvent != nullptr && !service.running) {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
}

HANDLE win32::StopEvent() { return stopEvent; }

bool StopRequested() { return stopRequested.load(std::memory_order_relaxed); }

void EndAfterStop() {
  win32::RestoreConsole();
  if (service.running) {
    ReportServiceStatus(SERVICE_STOPPED);
    ExitProcess(0);
  }
  // The console event's handler returns, and the default handler ends the
  // process with the status it always gives.
  SetEvent(stoppedEvent);
  for (;;) Sleep(INFINITE);
}

// The heap decommits large free blocks by itself.
void ReturnFreeMemory() {}

void LowerThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool Nap(std::chrono::microseconds length) {
  // Sleep() rounds up to the timer's tick, often 15.6 ms: far too long
  // between receives.
  if (length < std::chrono::milliseconds(1)) return false;
  // For the console's writer, which gathers records between writes, any
  // pause from a millisecond up to a tick will do.
  Sleep(static_cast<DWORD>(
      std::chrono::ceil<std::chrono::milliseconds>(length).count()));
  return true;
}

bool DropPrivileges() { return true; }

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_s(local, &time) == 0;
}

}  // namespace syslog_listen
