// The machine's IPv4 addresses, listed through an IPv4 socket alone: a
// service may be allowed no other kind of socket, and getifaddrs needs a
// netlink one.
#ifndef SYSLOG_LISTEN_PLATFORM_ADDRESSES_POSIX_H_
#define SYSLOG_LISTEN_PLATFORM_ADDRESSES_POSIX_H_

#include <optional>
#include <string>
#include <vector>

namespace syslog_listen {

// Every IPv4 address of every interface, loopback included, as dotted
// quads; nullopt when the system would not list them.
std::optional<std::vector<std::string>> InterfaceAddresses();

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_PLATFORM_ADDRESSES_POSIX_H_
