// Datagrams to the server on 127.0.0.1, and its socket's queue as the
// system shows it.
#ifndef SYSLOG_LISTEN_TESTS_E2E_SUPPORT_UDP_H_
#define SYSLOG_LISTEN_TESTS_E2E_SUPPORT_UDP_H_

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// A UDP socket on 127.0.0.1 or on every address; closed on destruction.
class UdpSocket {
 public:
  // Port 0 picks a free one.
  explicit UdpSocket(int port = 0, bool anyAddress = false);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  int port() const { return port_; }
  void SendTo(int port, std::string_view bytes) const;
  // Every datagram that arrives until none has come for `quiet`.
  std::vector<std::string> ReceiveUntilQuiet(std::chrono::milliseconds quiet);

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port that was free a moment ago.
int FreeUdpPort();

// Sends one datagram once the receive queue of `port` has room, so that no
// datagram is dropped however slowly the server runs (under valgrind, say).
void SendPaced(const UdpSocket& sender, int port, std::string_view bytes);

// Bytes waiting in the receive queue of the UDP socket bound to `port`, as
// /proc/net/udp shows them; -1 when no such socket is found.
long ReceiveQueueBytes(int port);

// Datagrams the system dropped for the UDP socket bound to `port` because
// its queue was full; -1 when no such socket is found.
long DroppedAt(int port);

}  // namespace e2e

#endif  // SYSLOG_LISTEN_TESTS_E2E_SUPPORT_UDP_H_
