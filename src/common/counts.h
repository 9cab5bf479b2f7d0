// Numbers in the server's own reports, in one style: digits grouped by
// thousands, and a noun that agrees with its count.
#ifndef SYSLOG_LISTEN_COMMON_COUNTS_H_
#define SYSLOG_LISTEN_COMMON_COUNTS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace syslog_listen {

// "1,234,567".
std::string GroupedDecimal(std::uint64_t value);

// A counted thing's name, for one and for more (or none).
struct Noun {
  std::string_view one;
  std::string_view many;
};

// "1 record", "0 records", "1,234 records".
std::string Counted(std::uint64_t count, const Noun& noun);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_COUNTS_H_
