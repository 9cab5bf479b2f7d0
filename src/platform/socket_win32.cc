// Windows side of the platform seam: the UDP socket through Winsock, its
// receive, and the machine's count of dropped datagrams.
// winsock2.h must precede windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <mswsock.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <memory>

#include "platform/platform.h"
#include "platform/win32.h"

namespace syslog_listen {

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
  win32::OwnedHandle readable;
  // Nothing was queued at the last look: the next receive may wait at once.
  bool empty = false;
  // Receives in a row that found a datagram alone.
  unsigned alone = 0;
  std::unique_ptr<char[]> buffers;

  // True when a datagram may be queued; false on time-out or a stop.
  bool Wait(int waitMs) const {
    const HANDLE events[] = {readable.Get(), win32::StopEvent()};
    return WaitForMultipleObjects(
               win32::StopEvent() != nullptr ? 2 : 1, events, FALSE,
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
  b.readable = win32::OwnedHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  WSAEventSelect(b.socket, b.readable.Get(), FD_READ);
}

DatagramReceiver::~DatagramReceiver() = default;

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
    bool cut = false;
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
      // first `capacity` bytes: keep those, as POSIX does. How long it was,
      // the error does not say.
      if (error != WSAEMSGSIZE) return received > 0 ? received : -1;
      size = b.capacity;
      cut = true;
    }
    datagrams_[received].bytes =
        std::string_view(data, static_cast<std::size_t>(size));
    datagrams_[received].size =
        cut ? Datagram::kUnknownSize : static_cast<std::size_t>(size);
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

}  // namespace syslog_listen
