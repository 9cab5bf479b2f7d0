// The facility and severity names shown in the annotation.
#ifndef SYSLOG_LISTEN_RECORDS_NAMES_H_
#define SYSLOG_LISTEN_RECORDS_NAMES_H_

#include <string_view>

namespace syslog_listen {

// Name shown for an index outside a table, such as the negative facility
// index of a negative priority.
inline constexpr std::string_view kUnknownName = "unknown";

// Names for facility indexes 0 to 23; kUnknownName for any other index.
std::string_view FacilityName(int index);

// Names for severity indexes 0 to 7; kUnknownName for any other index.
std::string_view SeverityName(int index);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_RECORDS_NAMES_H_
