// The physical reference: a plain batched receiver with the server's queue
// size and batch size that writes the datagrams' bytes, unparsed, with one
// write per batch.
//   baseline PORT FILE
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

constexpr int kBatch = 64;
constexpr int kCapacity = 10000;
char storage[kBatch][kCapacity];

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: baseline PORT FILE\n");
    return 2;
  }
  const int out = open(argv[2], O_WRONLY | O_APPEND | O_CREAT, 0644);
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const int size = syslog_listen::kReceiveQueueBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
  if (out < 0 || fd < 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("baseline");
    return 1;
  }
  mmsghdr messages[kBatch];
  iovec vectors[kBatch];
  iovec bodies[kBatch];
  for (;;) {
    for (int i = 0; i < kBatch; ++i) {
      vectors[i] = {storage[i], kCapacity};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int n = recvmmsg(fd, messages, kBatch, MSG_WAITFORONE, nullptr);
    if (n <= 0) continue;
    for (int i = 0; i < n; ++i) bodies[i] = {storage[i], messages[i].msg_len};
    if (writev(out, bodies, n) < 0) std::perror("baseline: writev");
  }
}
