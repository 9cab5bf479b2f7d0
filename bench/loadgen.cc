// Load generator: numbered syslog datagrams to 127.0.0.1, in sendmmsg
// batches, at full speed or paced, bounded by a count and a time limit.
//   loadgen --port P [--count N] [--rate R] [--seconds S] [--size B]
//           [--batch K]
// Datagrams go out K at a time (64 by default, at most that), paced by
// batch: --batch 1 is a smooth sender, one datagram at a time.
// Datagram i is "<13>seq=%010d " padded with 'x' to B bytes, ending in "\n".
// Prints: start=<epoch s> sent=<n> seconds=<s> rate=<per s>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMaxBatch = 64;

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Options {
  int port = 0;
  long count = 1000000;
  double rate = 0;  // 0: full speed
  double seconds = 60;
  int size = 100;
  int batch = kMaxBatch;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--port")
      o.port = std::atoi(value);
    else if (flag == "--count")
      o.count = std::atol(value);
    else if (flag == "--rate")
      o.rate = std::atof(value);
    else if (flag == "--seconds")
      o.seconds = std::atof(value);
    else if (flag == "--batch")
      o.batch = std::atoi(value);
    else if (flag == "--size")
      o.size = std::atoi(value);
  }
  if (o.port <= 0 || o.port > 65535 || o.size < 20 || o.size > 65000 ||
      o.batch < 1 || o.batch > kMaxBatch) {
    std::fprintf(stderr,
                 "usage: loadgen --port P [--count N] [--rate R] "
                 "[--seconds S] [--size B>=20] [--batch 1-64]\n");
    std::exit(2);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(o.port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never anywhere else
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    std::perror("loadgen: socket");
    return 1;
  }
  const auto size = static_cast<std::size_t>(o.size);
  std::vector<std::string> bodies(kMaxBatch, std::string(size, 'x'));
  std::vector<iovec> vectors(kMaxBatch);
  std::vector<mmsghdr> messages(kMaxBatch);

  const double start = Now(CLOCK_MONOTONIC);
  const double startEpoch = Now(CLOCK_REALTIME);
  long sent = 0;
  while (sent < o.count && Now(CLOCK_MONOTONIC) - start < o.seconds) {
    if (o.rate > 0) {
      // Pacing: wait until this batch's turn, sleeping only when far ahead.
      const double due = start + static_cast<double>(sent) / o.rate;
      for (double now; (now = Now(CLOCK_MONOTONIC)) < due;) {
        if (due - now > 0.001) usleep(500);
      }
    }
    const int n = static_cast<int>(std::min<long>(o.batch, o.count - sent));
    for (int i = 0; i < n; ++i) {
      std::string& body = bodies[static_cast<std::size_t>(i)];
      char head[32];
      const int h =
          std::snprintf(head, sizeof head, "<13>seq=%010ld ", sent + i);
      std::memcpy(body.data(), head, static_cast<std::size_t>(h));
      body.back() = '\n';
      vectors[static_cast<std::size_t>(i)] = {body.data(), size};
      messages[static_cast<std::size_t>(i)] = {};
      messages[static_cast<std::size_t>(i)].msg_hdr.msg_iov =
          &vectors[static_cast<std::size_t>(i)];
      messages[static_cast<std::size_t>(i)].msg_hdr.msg_iovlen = 1;
    }
    const int done = sendmmsg(fd, messages.data(), static_cast<unsigned>(n), 0);
    if (done < 0) {
      std::perror("loadgen: sendmmsg");
      return 1;
    }
    sent += done;
  }
  const double seconds = Now(CLOCK_MONOTONIC) - start;
  std::printf("start=%.6f sent=%ld seconds=%.6f rate=%.0f\n", startEpoch, sent,
              seconds, static_cast<double>(sent) / seconds);
  close(fd);
  return 0;
}
