#include "platform/account.h"

#include <gtest/gtest.h>

namespace syslog_listen {
namespace {

constexpr std::string_view kPasswd =
    "root:x:0:0:root:/root:/bin/bash\n"
    "nobodyelse:x:1:1::/:/bin/false\n"
    "broken:x:12\n"
    "bad:x:-1:5::/:\n"
    "huge:x:4294967296:5::/:\n"
    "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n"
    "last:x:7:8";

TEST(FindAccount, MatchesTheWholeNameAndPlainIds) {
  struct {
    std::string_view name;
    std::optional<std::uint32_t> uid;
    std::uint32_t gid;
  } cases[] = {
      {"nobody", 65534, 65534}, {"root", 0, 0},  {"last", 7, 8},
      {"nobod", std::nullopt, 0}, {"broken", std::nullopt, 0},
      {"bad", std::nullopt, 0}, {"huge", std::nullopt, 0},
      {"", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const auto account = FindAccount(kPasswd, c.name);
    ASSERT_EQ(c.uid.has_value(), account.has_value()) << c.name;
    if (account) {
      EXPECT_EQ(*c.uid, account->uid) << c.name;
      EXPECT_EQ(c.gid, account->gid) << c.name;
    }
  }
  EXPECT_FALSE(FindAccount("", "nobody"));
}

}  // namespace
}  // namespace syslog_listen
