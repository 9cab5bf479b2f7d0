// The syslog priority header at the start of a message: "<" number ">".
#ifndef SYSLOG_LISTEN_RECORDS_PRIORITY_H_
#define SYSLOG_LISTEN_RECORDS_PRIORITY_H_

#include <cstdint>
#include <string_view>

namespace syslog_listen {

struct PriorityHeader {
  // 0 means no header; then the body is the whole text.
  std::int32_t priority = 0;
  // A suffix of the message text: what follows the first '>' when the
  // priority is not 0 and there is a '>', else the whole text.
  std::string_view body;
};

// A header is recognised when the text starts with '<' and the number after
// it (decimal conversion rules: white space, sign, wrap-around) is not 0.
PriorityHeader ParsePriority(std::string_view text);

// (priority >> 3) % 24 with the sign of the dividend: 0 to 23 for any
// priority of 0 or more, -23 to 0 for a negative one.
int FacilityIndex(std::int32_t priority);

// The low three bits: 0 to 7.
int SeverityIndex(std::int32_t priority);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_RECORDS_PRIORITY_H_
