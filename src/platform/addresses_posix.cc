#include "platform/addresses_posix.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace syslog_listen {

namespace {

// Tries at a list that fills the room given, each with twice the room: an
// interface may come between the count and the list.
constexpr int kMaxTries = 4;

}  // namespace

std::optional<std::vector<std::string>> InterfaceAddresses() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  // With no room given, Linux says how much the whole list takes.
  ifconf list{};
  bool listed = ioctl(fd, SIOCGIFCONF, &list) == 0;
  std::vector<ifreq> entries;
  std::size_t room = listed ? list.ifc_len / sizeof(ifreq) + 4 : 0;
  for (int tries = 0; listed && tries < kMaxTries; ++tries, room *= 2) {
    entries.resize(room);
    list.ifc_len = static_cast<int>(room * sizeof(ifreq));
    list.ifc_req = entries.data();
    listed = ioctl(fd, SIOCGIFCONF, &list) == 0;
    if (static_cast<std::size_t>(list.ifc_len) < room * sizeof(ifreq)) break;
  }
  close(fd);
  if (!listed) return std::nullopt;
  std::vector<std::string> addresses;
  const std::size_t count =
      static_cast<std::size_t>(list.ifc_len) / sizeof(ifreq);
  for (std::size_t i = 0; i < count; ++i) {
    const sockaddr& address = entries[i].ifr_addr;
    if (address.sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    const in_addr& ipv4 =
        reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    if (inet_ntop(AF_INET, &ipv4, text, sizeof text) != nullptr) {
      addresses.emplace_back(text);
    }
  }
  return addresses;
}

}  // namespace syslog_listen
