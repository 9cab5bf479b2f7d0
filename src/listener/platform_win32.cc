// Windows side of the platform seam: Winsock, UTF-16 names, the console's
// code page, console events, and the service that the same executable is
// when the Service Control Manager starts it. Both outputs get the bytes the
// C runtime's text mode would write (a CR before every LF), each block in
// one write.
// winsock2.h must precede windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <io.h>
#include <fcntl.h>
#include <iphlpapi.h>
#include <mswsock.h>
#include <tlhelp32.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "listener/platform.h"
#include "listener/win32_text.h"

// The C runtime's own split of the UTF-16 command line, as for argv.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                              int expandWildcards, int* startInfo);

namespace syslog_listen {

namespace win32 {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

}  // namespace win32

namespace {

using win32::Utf8;
using win32::Wide;

// The service's name, and the source of its lines in the event log.
constexpr wchar_t kServiceName[] = L"syslog-listen";

// A file name as CreateFileW takes it whole. Windows refuses names of 260
// characters or more unless they carry the \\?\ prefix (or long paths are
// enabled for the whole system, which the manifest declares this program
// ready for), and the prefix takes only a full path.
std::wstring WidePath(const std::string& name) {
  std::wstring path = Wide(name);
  constexpr std::size_t kShortLimit = MAX_PATH - 12;  // room for 8.3 names
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  // The limit is on the full path, which a short name in a deep folder can
  // exceed.
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()),
                               full.data(), nullptr));
  if (full.size() < kShortLimit) return path;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Appends `bytes` as the C runtime's text mode would write them: a CR before
// every LF, also before one that follows a CR.
void AppendAsText(std::string& out, std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t lf = std::min(bytes.find('\n', at), bytes.size());
    out.append(bytes.substr(at, lf - at));
    if (lf < bytes.size()) out.append("\r\n");
    at = lf + 1;
  }
}

// All of `bytes` in one write where the handle takes them, where text mode
// makes one for every few hundred bytes; on a failure, how many it took
// before. A console or disk that is gone or full must not stop the server.
FileWrite WriteAll(HANDLE handle, std::string_view bytes) {
  FileWrite result;
  while (result.written < bytes.size()) {
    DWORD written = 0;
    const auto size = static_cast<DWORD>(
        std::min<std::size_t>(bytes.size() - result.written, 1u << 30));
    // What a failed write took still counts: the next must not repeat it.
    const BOOL ok = WriteFile(handle, bytes.data() + result.written, size,
                              &written, nullptr);
    result.written += written;
    if (!ok || written == 0) {
      const DWORD error = GetLastError();
      result.failure =
          !ok && (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
              ? FileWrite::Failure::kFull
              : FileWrite::Failure::kOther;
      break;
    }
  }
  return result;
}

// The console as the user had it, put back when the process ends.
struct ConsoleState {
  bool codePageSet = false;
  UINT codePage = 0;
  HANDLE input = nullptr;
  bool inputModeSet = false;
  DWORD inputMode = 0;
  DWORD inputModeOurs = 0;  // as the console reports the mode we set
  HANDLE output = nullptr;
  bool outputModeSet = false;  // virtual-terminal processing, for colours
  DWORD outputMode = 0;
  DWORD outputModeOurs = 0;
  std::atomic<bool> titleSet{false};
  std::wstring title;  // the user's, while ours is shown
};
ConsoleState console;

// Puts back only what is still as the server set it: a code page the user
// chose meanwhile (chcp 1252, for legacy senders) stays theirs.
void RestoreConsole() {
  if (console.codePageSet && GetConsoleOutputCP() == CP_UTF8) {
    SetConsoleOutputCP(console.codePage);
  }
  DWORD mode = 0;
  if (console.inputModeSet && GetConsoleMode(console.input, &mode) &&
      mode == console.inputModeOurs) {
    SetConsoleMode(console.input, console.inputMode);
  }
  if (console.outputModeSet && GetConsoleMode(console.output, &mode) &&
      mode == console.outputModeOurs) {
    SetConsoleMode(console.output, console.outputMode);
  }
  RestoreTitle();
}

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// Received text is mostly UTF-8: the console shows it as such while the
// server runs, instead of as two or three wrong characters of its OEM code
// page. And a click in a console window with quick-edit on starts a
// selection that blocks every console write, and so the log file behind
// it, until the user presses a key: the server is not interactive, so it
// is turned off. Both are the console's, shared with the command prompt,
// and put back at the end.
void PrepareConsole() {
  if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
    console.codePage = GetConsoleOutputCP();
    console.codePageSet = SetConsoleOutputCP(CP_UTF8) != 0;
  }
  console.input = GetStdHandle(STD_INPUT_HANDLE);
  if (GetConsoleMode(console.input, &console.inputMode)) {
    console.inputModeSet =
        SetConsoleMode(console.input,
                       (console.inputMode | ENABLE_EXTENDED_FLAGS) &
                           ~ENABLE_QUICK_EDIT_MODE) &&
        GetConsoleMode(console.input, &console.inputModeOurs);
  }
  std::atexit(RestoreConsole);
}

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
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot, &entry); more && parent == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  bool found = false;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    found = parent != 0 && entry.th32ProcessID == parent &&
            _wcsicmp(entry.szExeFile, L"services.exe") == 0;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

void PrepareProcess() {
  OpenOnNullDevice(stdin, 0, "r");
  OpenOnNullDevice(stdout, 1, "w");
  OpenOnNullDevice(stderr, 2, "w");
  PrepareConsole();
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

void WriteText(std::FILE* stream, std::string_view text) {
  const HANDLE handle = HandleOf(stream);
  std::string crlf;
  AppendAsText(crlf, text);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) {
    WriteAll(handle, crlf);
    return;
  }
  // As UTF-16, which a console shows whatever its code page.
  const std::wstring wide = Wide(crlf);
  for (std::size_t at = 0; at < wide.size();) {
    // Old consoles refuse long writes.
    const auto size =
        static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + at, size, &written, nullptr) ||
        written == 0) {
      return;
    }
    at += written;
  }
}

// A console takes each write whole, and a pipe queues writes whole: a
// report cannot land inside a block of records.
bool OutputsShareStream() { return false; }

// A NUL we opened is known; one inherited cannot be told from a serial
// port or a printer by its file type, and those must be written.
bool IsNullDevice(std::FILE* stream) {
  const int fd = _fileno(stream);
  return fd >= 0 && fd <= 2 && nullStream[fd];
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

bool TerminalColours() {
  // A legacy console refuses the mode, and would print the sequences.
  console.output = GetStdHandle(STD_OUTPUT_HANDLE);
  console.outputModeSet =
      GetConsoleMode(console.output, &console.outputMode) &&
      SetConsoleMode(console.output,
                     console.outputMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
      GetConsoleMode(console.output, &console.outputModeOurs);
  return console.outputModeSet;
}

bool TitleSettable() { return IsConsole(STD_OUTPUT_HANDLE); }

void SetTitle(std::string_view title) {
  if (!console.titleSet) {
    // The user's own, to put back at the end.
    wchar_t was[1024] = {};
    GetConsoleTitleW(was, 1024);
    console.title = was;
    console.titleSet = true;
  }
  SetConsoleTitleW(Wide(title).c_str());
}

bool RestoreTitle() {
  if (console.titleSet.exchange(false)) {
    SetConsoleTitleW(console.title.c_str());
  }
  return true;
}

namespace {

// True when the junction at `path` mounts a volume (\??\Volume{...}\),
// which only an administrator can make: a disk put there for the logs.
bool MountsVolume(const std::wstring& path) {
  const HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // The mount point's reparse data: tag, sizes, then the names.
  struct MountPoint {
    DWORD tag;
    WORD dataLength, reserved;
    WORD targetOffset, targetLength, printOffset, printLength;
    wchar_t names[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(wchar_t)];
  };
  auto data = std::make_unique<MountPoint>();
  DWORD got = 0;
  const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr,
                                    0, data.get(), sizeof *data, &got, nullptr);
  CloseHandle(handle);
  constexpr std::wstring_view kVolume = L"\\??\\Volume{";
  const std::size_t at = data->targetOffset / sizeof(wchar_t);
  return read && data->tag == IO_REPARSE_TAG_MOUNT_POINT &&
         data->targetLength / sizeof(wchar_t) >= kVolume.size() &&
         at + kVolume.size() <= std::size(data->names) &&
         std::wstring_view(data->names + at, kVolume.size()) == kVolume;
}

// Whether `path` is a link: a symbolic link or a junction, a reparse point
// that stands for another name, other than a volume mounted there. Tag 0,
// which no real reparse point has, is how wine shows a Unix link (and a
// Unix mount point alike). Other reparse points (a cloud file's, say) are
// folders as any other.
bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  if (found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT && MountsVolume(path)) {
    return false;
  }
  return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

// Whether a folder part of `name`, as given, is a link. A drive ("C:") and
// "." or ".." name no folder of their own.
bool ThroughLinkedFolder(const std::string& name) {
  for (std::size_t end = name.find_first_of("\\/"); end != std::string::npos;
       end = name.find_first_of("\\/", end + 1)) {
    const std::string folder = name.substr(0, end);
    // npos + 1 is 0: the name's first part.
    const std::string_view last =
        std::string_view(folder).substr(folder.find_last_of("\\/") + 1);
    if (last.empty() || last.back() == ':' || last == "." || last == "..") {
      continue;
    }
    if (IsLink(WidePath(folder))) return true;
  }
  return false;
}

}  // namespace

std::FILE* OpenLogFile(const std::string& name, bool regularFileOnly) {
  // Append-only access: the system puts every write at the file's current
  // end, even after another process has truncated it. The C runtime's own
  // append mode only seeks to the end first, which a truncation between the
  // seek and the write turns into a hole. Shared with other readers and
  // writers, and with rotation by renaming or deleting.
  // Opened again after rotation, a reparse point (a symbolic link, a
  // junction) at the name is opened itself, and refused, rather than
  // followed to wherever its maker pointed it; a link in a folder part is
  // refused too, looked for before the open and again after it, for a
  // folder swapped meanwhile.
  if (regularFileOnly && ThroughLinkedFolder(name)) return nullptr;
  const HANDLE handle =
      CreateFileW(WidePath(name).c_str(), FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL |
                      (regularFileOnly ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                  nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Nor is a pipe or a device someone put at the name a log file.
  BY_HANDLE_FILE_INFORMATION info;
  if (regularFileOnly &&
      (GetFileType(handle) != FILE_TYPE_DISK ||
       !GetFileInformationByHandle(handle, &info) ||
       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
       ThroughLinkedFolder(name))) {
    CloseHandle(handle);
    return nullptr;
  }
  // Written through its handle (WriteToFile): the stream only holds it.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 _O_APPEND | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "ab");
  if (file == nullptr) _close(fd);
  return file;
}

FileBytes FileText(std::string_view bytes, std::span<const std::size_t> ends) {
  // Only the receive path writes the file.
  static std::string text;
  static std::vector<std::size_t> textEnds;
  text.clear();
  textEnds.clear();
  std::size_t from = 0;
  for (const std::size_t end : ends) {
    AppendAsText(text, bytes.substr(from, end - from));
    from = end;
    textEnds.push_back(text.size());
  }
  AppendAsText(text, bytes.substr(from));
  return {text, textEnds};
}

FileWrite WriteToFile(std::FILE* file, std::string_view bytes) {
  return WriteAll(HandleOf(file), bytes);
}

namespace {

// The volume and the file's index on it identify a file whatever its name.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a,
              const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool IsRegularFile(std::FILE* file) {
  return GetFileType(HandleOf(file)) == FILE_TYPE_DISK;
}

FileLinks LinksOf(std::FILE* file) {
  FILE_STANDARD_INFO info{};
  if (GetFileInformationByHandleEx(HandleOf(file), FileStandardInfo, &info,
                                   sizeof info) == 0) {
    return FileLinks::kNamed;
  }
  if (info.DeletePending) return FileLinks::kDeletePending;
  return info.NumberOfLinks == 0 ? FileLinks::kDeleted : FileLinks::kNamed;
}

NameState LookAtName(const std::string& name, std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION open;
  if (!GetFileInformationByHandle(HandleOf(file), &open)) {
    return NameState::kMoved;
  }
  // No access asked for: only the file's identity is read.
  const HANDLE named =
      CreateFileW(WidePath(name).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    // A file pending deletion cannot be opened either: when it is the open
    // one, the name is as good as gone.
    return GetLastError() == ERROR_ACCESS_DENIED &&
                   LinksOf(file) == FileLinks::kNamed
               ? NameState::kNoAccess
               : NameState::kMoved;
  }
  BY_HANDLE_FILE_INFORMATION current;
  const bool same = GetFileInformationByHandle(named, &current) != 0 &&
                    SameFile(open, current);
  CloseHandle(named);
  return same ? NameState::kOpenFile : NameState::kMoved;
}

bool StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

SocketHandle OpenUdpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return -1;
  const int size = kReceiveQueueBytes;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
             sizeof size);
  // Otherwise an ICMP "port unreachable" for anything this socket might
  // have sent comes back as a failed receive.
  BOOL reportResets = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0,
           &returned, nullptr, nullptr);
  return static_cast<SocketHandle>(s);
}

bool BindAnyIPv4(SocketHandle socketHandle, std::uint16_t port) {
  const SOCKET s = static_cast<SOCKET>(socketHandle);
  // Without this, another process could bind the same port with
  // SO_REUSEADDR and take the datagrams meant for us.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// While datagrams come alone, one receive in this many asks whether another
// is queued.
constexpr unsigned kAskEvery = 4;

struct DatagramReceiver::Batch {
  SOCKET socket;
  int capacity;
  bool withSenders;
  // Signalled when a datagram arrives after a receive; auto-reset, so that
  // the wait that wakes for it also resets it.
  HANDLE readable;
  // Nothing was queued at the last look: the next receive may wait at once.
  bool empty = false;
  // Receives in a row that found a datagram alone.
  unsigned alone = 0;
  std::unique_ptr<char[]> buffers;

  // True when a datagram may be queued; false on time-out or a stop.
  bool Wait(int waitMs) const {
    const HANDLE events[] = {readable, stopEvent};
    return WaitForMultipleObjects(
               stopEvent != nullptr ? 2 : 1, events, FALSE,
               waitMs < 0 ? INFINITE : static_cast<DWORD>(waitMs)) ==
           WAIT_OBJECT_0;
  }

  // Whether more datagrams are queued, asked without receiving: a receive
  // that finds none costs a round trip for nothing.
  bool MoreQueued() const {
    u_long queued = 0;
    return ioctlsocket(socket, FIONREAD, &queued) != 0 || queued > 0;
  }
};

DatagramReceiver::DatagramReceiver(SocketHandle socket, int capacity,
                                   bool withSenders)
    : batch_(new Batch) {
  Batch& b = *batch_;
  b.socket = static_cast<SOCKET>(socket);
  b.capacity = capacity;
  b.withSenders = withSenders;
  b.buffers = std::make_unique_for_overwrite<char[]>(
      static_cast<std::size_t>(capacity) * kBatch);
  // Also makes the socket non-blocking: receives drain the queue, and only
  // an empty queue waits.
  b.readable = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  WSAEventSelect(b.socket, b.readable, FD_READ);
}

DatagramReceiver::~DatagramReceiver() { CloseHandle(batch_->readable); }

int DatagramReceiver::Receive(int waitMs) {
  Batch& b = *batch_;
  if (b.empty) {
    // Any datagram that came since the last receive has signalled the event
    // (or shows as queued now): wait for that, not for a failed receive.
    if (waitMs == 0 ? !b.MoreQueued() : !b.Wait(waitMs)) return 0;
    b.empty = false;
  }
  int received = 0;
  // Each pass takes a datagram or gives up on one; bounded all the same.
  for (int pass = 0; pass < 2 * kBatch && received < kBatch; ++pass) {
    char* data = b.buffers.get() + static_cast<std::size_t>(b.capacity) *
                                       static_cast<std::size_t>(received);
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    int size =
        recvfrom(b.socket, data, b.capacity, 0,
                 b.withSenders ? reinterpret_cast<sockaddr*>(&sender) : nullptr,
                 b.withSenders ? &senderLength : nullptr);
    if (size == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        b.empty = true;
        break;
      }
      // That datagram's own trouble (an ICMP error that came back for it):
      // skip it, without the back-off meant for a failing socket.
      if (error == WSAECONNRESET || error == WSAENETRESET) continue;
      // A longer datagram comes as an error, with the buffer filled by its
      // first `capacity` bytes: keep those, as POSIX does.
      if (error != WSAEMSGSIZE) return received > 0 ? received : -1;
      size = b.capacity;
    }
    datagrams_[received].bytes =
        std::string_view(data, static_cast<std::size_t>(size));
    datagrams_[received].senderNetOrder = sender.sin_addr.s_addr;
    // Datagrams that come one at a time are common at low rates. While they
    // do, the next receive waits on the event at once: one that came
    // meanwhile has signalled it, as the receive left it queued. Every few
    // it asks whether another is queued, to notice a burst; in a burst it
    // receives until the queue is empty, as one receive for nothing per
    // batch costs less than a question per datagram.
    if (++received == 1 &&
        ((b.alone > 0 && b.alone % kAskEvery != 0) || !b.MoreQueued())) {
      ++b.alone;
      b.empty = true;
      break;
    }
    b.alone = 0;
  }
  return received;
}

DropScope ReadDropCount(SocketHandle, std::uint32_t* count) {
  MIB_UDPSTATS stats{};
  if (GetUdpStatistics(&stats) != NO_ERROR) return DropScope::kNone;
  *count = stats.dwInErrors;
  return DropScope::kMachine;
}

namespace {

// Runs on a thread of its own for each console event.
BOOL WINAPI OnConsoleEvent(DWORD) {
  if (RequestStop()) {
    // Asked twice: the default handler, next, ends the process at once.
    RestoreConsole();
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

bool StopRequested() { return stopRequested.load(std::memory_order_relaxed); }

void EndAfterStop() {
  RestoreConsole();
  if (service.running) {
    ReportServiceStatus(SERVICE_STOPPED);
    ExitProcess(0);
  }
  // The console event's handler returns, and the default handler ends the
  // process with the status it always gives.
  SetEvent(stoppedEvent);
  for (;;) Sleep(INFINITE);
}

void WriteToConsole(std::span<const std::string_view> pieces) {
  static std::string text;  // only the console's writer writes the console
  text.clear();
  for (const std::string_view piece : pieces) AppendAsText(text, piece);
  WriteAll(HandleOf(stdout), text);
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
