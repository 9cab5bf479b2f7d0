#include "platform/addresses_posix.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <algorithm>

namespace syslog_listen {
namespace {

// Listed through an IPv4 socket alone, the addresses are the ones that
// getifaddrs (over netlink) lists on this machine.
TEST(InterfaceAddresses, SameAsGetifaddrs) {
  ifaddrs* list = nullptr;
  ASSERT_EQ(0, getifaddrs(&list));
  std::vector<std::string> expected;
  for (const ifaddrs* at = list; at != nullptr; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(at->ifa_addr)->sin_addr,
              text, sizeof text);
    expected.emplace_back(text);
  }
  freeifaddrs(list);
  auto listed = InterfaceAddresses();
  ASSERT_TRUE(listed);
  std::ranges::sort(expected);
  std::ranges::sort(*listed);
  EXPECT_EQ(expected, *listed);
}

}  // namespace
}  // namespace syslog_listen
