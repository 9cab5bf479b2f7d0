// The one decimal conversion used for the -p value and the priority number.
#ifndef SYSLOG_LISTEN_COMMON_DECIMAL_H_
#define SYSLOG_LISTEN_COMMON_DECIMAL_H_

#include <cstdint>
#include <string_view>

namespace syslog_listen {

// Skips leading white space (space, \t, \n, \v, \f, \r), takes one optional
// '+' or '-', then reads digits up to the first non-digit. The value wraps
// modulo 2^32 and is negated after a '-'. Text without digits gives 0.
// Never fails.
std::int32_t ParseDecimal(std::string_view text);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_DECIMAL_H_
