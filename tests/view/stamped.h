// The view's tests write "@" for a time stamp text.
#ifndef SYSLOG_LISTEN_TESTS_VIEW_STAMPED_H_
#define SYSLOG_LISTEN_TESTS_VIEW_STAMPED_H_

#include <string>
#include <string_view>

namespace syslog_listen {

inline constexpr std::string_view kStamp = "Mon Jun 02 09:05:07 2025";

// `text` with each `from` made `to`.
inline std::string Replaced(std::string_view text, std::string_view from,
                            std::string_view to) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t found; (found = text.find(from, at)) != text.npos;
       at = found + from.size()) {
    out.append(text.substr(at, found - at)).append(to);
  }
  return out.append(text.substr(at));
}

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_TESTS_VIEW_STAMPED_H_
