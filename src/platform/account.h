// Finds an account in the text of a passwd file, for the switch away from
// root. Pure: the caller reads the file.
#ifndef SYSLOG_LISTEN_PLATFORM_ACCOUNT_H_
#define SYSLOG_LISTEN_PLATFORM_ACCOUNT_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace syslog_listen {

struct Account {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;  // the account's primary group
};

// Looks `name` up in `passwd`, lines of "name:password:uid:gid:...". A
// line whose ids are not plain decimal numbers of 32 bits does not match.
std::optional<Account> FindAccount(std::string_view passwd,
                                   std::string_view name);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_PLATFORM_ACCOUNT_H_
