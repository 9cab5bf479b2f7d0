// Windows side of the platform seam: Winsock 1.1 and the C runtime's text
// mode, which writes every line feed as CR LF on the console and in the file.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <io.h>

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
  SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE);
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

std::FILE* OpenLogFile(const std::string& name) {
  // Text mode, appending, shared with other readers and writers.
  return std::fopen(name.c_str(), "a");
}

bool StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

SocketHandle OpenUdpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return -1;
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

int ReceiveDatagram(SocketHandle socketHandle, char* buffer, int capacity,
                    std::uint32_t* senderNetOrder) {
  sockaddr_in sender{};
  int senderLength = sizeof sender;
  const int received =
      recvfrom(static_cast<SOCKET>(socketHandle), buffer, capacity, 0,
               reinterpret_cast<sockaddr*>(&sender), &senderLength);
  if (received != SOCKET_ERROR) {
    *senderNetOrder = sender.sin_addr.s_addr;
    return received;
  }
  // A longer datagram is reported as an error, with the buffer filled by
  // its first `capacity` bytes: keep those, as POSIX does.
  if (WSAGetLastError() == WSAEMSGSIZE) {
    *senderNetOrder = sender.sin_addr.s_addr;
    return capacity;
  }
  return -1;
}

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_s(local, &time) == 0;
}

}  // namespace syslog_listen
