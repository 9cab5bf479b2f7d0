// The simplest Winsock receiver, the yardstick for the Windows build: a
// blocking recvfrom per datagram, its bytes appended with fwrite, and a
// flush once FIONREAD says nothing more is queued.
//   win_minimal PORT FILE
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: win_minimal PORT FILE\n");
    return 2;
  }
  WSADATA data;
  const SOCKET s = WSAStartup(MAKEWORD(1, 1), &data) == 0
                       ? socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)
                       : INVALID_SOCKET;
  // The server's queue, so that the two meet bursts alike.
  const int queue = syslog_listen::kReceiveQueueBytes;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&queue),
             sizeof queue);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(argv[1])));
  std::FILE* out = std::fopen(argv[2], "ab");
  if (s == INVALID_SOCKET || out == nullptr ||
      bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "win_minimal: cannot start\n");
    return 1;
  }
  static char buffer[10000];
  for (;;) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(s, buffer, sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n > 0) std::fwrite(buffer, 1, static_cast<std::size_t>(n), out);
    u_long queued = 0;
    if (ioctlsocket(s, FIONREAD, &queued) != 0 || queued == 0) std::fflush(out);
  }
}
