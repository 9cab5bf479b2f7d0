#include "records/priority.h"

#include "common/decimal.h"

namespace syslog_listen {

PriorityHeader ParsePriority(std::string_view text) {
  PriorityHeader header;
  header.body = text;
  if (text.empty() || text.front() != '<') return header;
  header.priority = ParseDecimal(text.substr(1));
  if (header.priority == 0) return header;  // "<0>" stays in the body
  // The first '>' anywhere ends the header, even one before the digits end.
  const auto close = text.find('>');
  if (close != std::string_view::npos) header.body = text.substr(close + 1);
  return header;
}

int FacilityIndex(std::int32_t priority) {
  // >> on a negative value is arithmetic since C++20, and % truncates toward
  // zero, so a negative priority gives an index from -23 to 0.
  return (priority >> 3) % 24;
}

int SeverityIndex(std::int32_t priority) { return priority & 7; }

}  // namespace syslog_listen
