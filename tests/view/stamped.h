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
  for (std::size_t at; (at = text.find(from)) != text.npos;) {
    out.append(text.substr(0, at)).append(to);
    text.remove_prefix(at + from.size());
  }
  return out.append(text);
}

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_TESTS_VIEW_STAMPED_H_
