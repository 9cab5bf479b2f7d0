#include "common/counts.h"

#include <cstddef>

namespace syslog_listen {

std::string GroupedDecimal(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0;
       at -= 3) {
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  }
  return digits;
}

std::string Counted(std::uint64_t count, const Noun& noun) {
  std::string text = GroupedDecimal(count);
  text += ' ';
  text += count == 1 ? noun.one : noun.many;
  return text;
}

}  // namespace syslog_listen
