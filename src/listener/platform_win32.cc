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

#include <cstdio>

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

std::FILE* OpenLogFile(const std::string& name) {
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

bool DeletePending(std::FILE* file) {
  FILE_STANDARD_INFO info{};
  return GetFileInformationByHandleEx(HandleOf(file), FileStandardInfo, &info,
                                      sizeof info) != 0 &&
         info.DeletePending;
}

bool NamesOpenFile(const std::string& name, std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION open;
  if (file == nullptr || !GetFileInformationByHandle(HandleOf(file), &open)) {
    return false;
  }
  // No access asked for: only the file's identity is read. A name whose
  // file is pending deletion cannot be opened, and counts as gone.
  const HANDLE named = CreateFileA(
      name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION current;
  const bool same = GetFileInformationByHandle(named, &current) != 0 &&
                    SameFile(open, current);
  CloseHandle(named);
  return same;
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

// 1 when a datagram is queued or arrives within `waitMs` (-1: however long
// it takes), 0 on time-out, -1 on failure.
int Readable(SOCKET s, int waitMs) {
  if (waitMs < 0) return 1;  // the receive itself will block
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval timeout{waitMs / 1000, (waitMs % 1000) * 1000};
  const int ready = select(0, &readable, nullptr, nullptr, &timeout);
  return ready == SOCKET_ERROR ? -1 : ready > 0;
}

}  // namespace

int ReceiveBatch(SocketHandle socketHandle, DatagramSlot* slots, int count,
                 int capacity, bool, int waitMs, std::uint32_t*) {
  const SOCKET s = static_cast<SOCKET>(socketHandle);
  // Winsock 1.1 has no batched receive: one datagram per call, for as long
  // as more are queued.
  int received = 0;
  for (; received < count; ++received) {
    const int ready = Readable(s, received == 0 ? waitMs : 0);
    if (ready < 0) return received > 0 ? received : -1;
    if (ready == 0) break;
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    int size = recvfrom(s, slots[received].data, capacity, 0,
                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    // A longer datagram is reported as an error, with the buffer filled by
    // its first `capacity` bytes: keep those, as POSIX does.
    if (size == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) {
      size = capacity;
    }
    if (size == SOCKET_ERROR) return received > 0 ? received : -1;
    slots[received].size = size;
    slots[received].senderNetOrder = sender.sin_addr.s_addr;
  }
  return received;
}

bool ReadMachineDrops(std::uint32_t* count) {
  MIB_UDPSTATS stats{};
  if (GetUdpStatistics(&stats) != NO_ERROR) return false;
  *count = stats.dwInErrors;
  return true;
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
