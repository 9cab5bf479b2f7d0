#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/harness.h"

namespace e2e {

namespace {

sockaddr_in Loopback(int port, bool anyAddress) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  return address;
}

}  // namespace

UdpSocket::UdpSocket(int port, bool anyAddress) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) Fail("socket");
  // Room for everything a sender under test sends before we read it.
  const int queue = 8 << 20;
  if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &queue, sizeof queue) != 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
  }
  sockaddr_in address = Loopback(port, anyAddress);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Fail("bind");
  }
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

UdpSocket::~UdpSocket() { close(fd_); }

void UdpSocket::SendTo(int port, std::string_view bytes) const {
  const sockaddr_in to = Loopback(port, false);
  if (sendto(fd_, bytes.data(), bytes.size(), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    Fail("sendto");
  }
}

std::vector<std::string> UdpSocket::ReceiveUntilQuiet(
    std::chrono::milliseconds quiet) {
  std::vector<std::string> datagrams;
  char buffer[65536];
  for (;;) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(quiet.count())) <= 0) break;
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) break;
    datagrams.emplace_back(buffer, static_cast<std::size_t>(n));
  }
  return datagrams;
}

int FreeUdpPort() {
  // Above the ports the system hands to sockets bound to port 0, as every
  // sender's is, which could take one between this look and the server's
  // bind; each process from a place of its own, a few apart.
  static const int first = [] {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    int high = 65535;
    range >> low >> high;
    return high + 1;
  }();
  static int next = static_cast<int>(getpid() % 65536) * 97;
  for (int tries = 0; 65536 - first >= 1000 && tries < 100; ++tries) {
    const int port = first + next++ % (65536 - first);
    try {
      return UdpSocket(port, true).port();
    } catch (const std::runtime_error&) {
    }
  }
  return UdpSocket(0, true).port();
}

namespace {

// The fields of the line of /proc/net/udp for the socket bound to `port`:
// sl local_address rem_address st tx_queue:rx_queue ... drops.
std::vector<std::string> UdpSocketLine(int port) {
  std::ifstream table("/proc/net/udp");
  char local[32];
  std::snprintf(local, sizeof local, ":%04X", port);
  std::string line;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;) fields.push_back(field);
    const std::string& address = fields.size() > 1 ? fields[1] : line;
    if (address.size() >= 5 &&
        address.compare(address.size() - 5, 5, local) == 0) {
      return fields;
    }
  }
  return {};
}

}  // namespace

long ReceiveQueueBytes(int port) {
  const std::vector<std::string> fields = UdpSocketLine(port);
  if (fields.size() < 5) return -1;
  return std::stol(fields[4].substr(fields[4].find(':') + 1), nullptr, 16);
}

long DroppedAt(int port) {
  const std::vector<std::string> fields = UdpSocketLine(port);
  return fields.size() < 13 ? -1 : std::stol(fields.back());
}

void SendPaced(const UdpSocket& sender, int port, std::string_view bytes) {
  constexpr long kQueueLimit = 64 * 1024;
  WaitUntil([&] { return ReceiveQueueBytes(port) < kQueueLimit; });
  sender.SendTo(port, bytes);
}

}  // namespace e2e
