// POSIX side of the platform seam.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "listener/platform.h"

namespace syslog_listen {

void PrepareProcess() {
  // open() returns the lowest free descriptor, so walking up from 0 fills
  // each closed one in place.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  // Load the zone rules once; localtime_r need not do it itself.
  tzset();
}

std::FILE* OpenLogFile(const std::string& name) {
  // O_APPEND: every write lands at the current end, even when another
  // process appends or truncates the file meanwhile.
  const int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                      0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

bool StartSockets() { return true; }

SocketHandle OpenUdpSocket() {
  return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
}

bool BindAnyIPv4(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address),
              sizeof address) == 0;
}

int ReceiveDatagram(SocketHandle socket, char* buffer, int capacity,
                    std::uint32_t* senderNetOrder) {
  for (;;) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    // Without MSG_TRUNC the kernel cuts a longer datagram to `capacity`.
    const ssize_t received =
        recvfrom(static_cast<int>(socket), buffer,
                 static_cast<std::size_t>(capacity), 0,
                 reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) return -1;
    *senderNetOrder = sender.sin_addr.s_addr;
    return static_cast<int>(received);
  }
}

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_r(&time, local) != nullptr;
}

}  // namespace syslog_listen
