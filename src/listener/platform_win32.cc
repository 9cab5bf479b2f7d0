// Windows side of the platform seam: Winsock 1.1 and the C runtime's text
// mode, which writes every line feed as CR LF on the console and in the file.
// winsock2.h must precede windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <io.h>
#include <fcntl.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <memory>

#include "listener/platform.h"

namespace syslog_listen {

namespace {

// A click in a console window with quick-edit on starts a selection that
// blocks every console write, and so the log file behind it, until the user
// presses a key. The server is not interactive: turn it off.
void DisableQuickEdit() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
  SetConsoleMode(input,
                 (mode | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE);
}

// A standard stream without a handle gets the null device, so that writes
// to it go nowhere instead of to a file opened later.
void OpenOnNullDevice(FILE* stream, int fd, const char* mode) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle == -1 || handle == -2) std::freopen("NUL", mode, stream);
}

}  // namespace

void PrepareProcess() {
  OpenOnNullDevice(stdin, 0, "r");
  OpenOnNullDevice(stdout, 1, "w");
  OpenOnNullDevice(stderr, 2, "w");
  DisableQuickEdit();
}

// NUL cannot be told from a serial port or a printer by its file type,
// and those must be written: always write.
bool IsNullDevice(std::FILE*) { return false; }

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(
             reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
             &mode) != 0;
}

std::FILE* OpenLogFile(const std::string& name, bool regularFileOnly) {
  // Append-only access: the system puts every write at the file's current
  // end, even after another process has truncated it. The C runtime's own
  // append mode only seeks to the end first, which a truncation between the
  // seek and the write turns into a hole. Shared with other readers and
  // writers, and with rotation by renaming or deleting.
  const HANDLE handle =
      CreateFileA(name.c_str(), FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // A pipe or a device someone put at the name is no log file.
  if (regularFileOnly && GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_TEXT);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  // Text mode: every line feed is written as CR LF.
  std::FILE* file = _fdopen(fd, "a");
  if (file == nullptr) _close(fd);
  return file;
}

namespace {

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

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
  // No access asked for: only the file's identity is read. A name whose
  // file is pending deletion cannot be opened, and counts as gone.
  const HANDLE named = CreateFileA(
      name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    // Pending deletion also reads as access denied; that file is gone.
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

namespace {

// Set, and never reset, by a request to stop; a waiting receive wakes for
// it.
HANDLE stopEvent = nullptr;
// Set once the server has kept what it held, so that the process may end.
HANDLE stoppedEvent = nullptr;
std::atomic<bool> stopRequested{false};
// How long a stop request holds the process open at most: the system ends
// it after 5 s anyway when the window is closed.
constexpr DWORD kStopHoldMs = 4000;

}  // namespace

struct DatagramReceiver::Batch {
  SOCKET socket;
  int capacity;
  bool withSenders;
  // Signalled while datagrams are queued: with the stop event, the one wait
  // of an idle receiver.
  WSAEVENT readable;
  std::unique_ptr<char[]> buffers;
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
  b.readable = WSACreateEvent();
  WSAEventSelect(b.socket, b.readable, FD_READ);
}

DatagramReceiver::~DatagramReceiver() { WSACloseEvent(batch_->readable); }

int DatagramReceiver::Receive(int waitMs) {
  Batch& b = *batch_;
  int received = 0;
  while (received < kBatch) {
    char* data = b.buffers.get() + static_cast<std::size_t>(b.capacity) *
                                       static_cast<std::size_t>(received);
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    int size = recvfrom(b.socket, data, b.capacity, 0,
                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (size == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEMSGSIZE) {
        // A longer datagram comes as an error, with the buffer filled by
        // its first `capacity` bytes: keep those, as POSIX does.
        size = b.capacity;
      } else if (error != WSAEWOULDBLOCK) {
        return received > 0 ? received : -1;
      } else {
        if (received > 0 || waitMs == 0) break;
        // The queue is empty: wait for a datagram or a stop. A failed
        // receive re-arms the event, so one that arrives from now on
        // signals it.
        const HANDLE events[] = {b.readable, stopEvent};
        const DWORD woken = WaitForMultipleObjects(
            stopEvent != nullptr ? 2 : 1, events, FALSE,
            waitMs < 0 ? INFINITE : static_cast<DWORD>(waitMs));
        if (woken != WAIT_OBJECT_0) return 0;
        WSAResetEvent(b.readable);
        waitMs = 0;
        continue;
      }
    }
    datagrams_[received].bytes =
        std::string_view(data, static_cast<std::size_t>(size));
    datagrams_[received].senderNetOrder = sender.sin_addr.s_addr;
    ++received;
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
  // Asked twice: the default handler, next, ends the process at once.
  if (stopRequested.exchange(true)) return FALSE;
  SetEvent(stopEvent);
  // Returning lets the default handler end the process: first let the
  // server keep what it holds.
  WaitForSingleObject(stoppedEvent, kStopHoldMs);
  return FALSE;
}

}  // namespace

void WatchForStop() {
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stoppedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent != nullptr && stoppedEvent != nullptr) {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
}

bool StopRequested() { return stopRequested.load(std::memory_order_relaxed); }

void EndAfterStop() {
  // The console event's handler returns, and the default handler ends the
  // process with the status it always gives.
  SetEvent(stoppedEvent);
  for (;;) Sleep(INFINITE);
}

void WriteToConsole(std::span<const std::string> pieces) {
  // The C runtime's text mode turns each LF into CR LF as it writes.
  for (const std::string& piece : pieces) {
    std::fwrite(piece.data(), 1, piece.size(), stdout);
  }
}

// The heap decommits large free blocks by itself.
void ReturnFreeMemory() {}

void LowerThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

// Sleep() rounds up to the timer's tick, often 15.6 ms: far too long.
void Nap(std::chrono::microseconds) {}

bool DropPrivileges() { return true; }

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_s(local, &time) == 0;
}

}  // namespace syslog_listen
