// UTF-8 and UTF-16, converted as the Windows side of the platform seam
// needs them. Included by the Windows files only.
#ifndef SYSLOG_LISTEN_LISTENER_WIN32_TEXT_H_
#define SYSLOG_LISTEN_LISTENER_WIN32_TEXT_H_

#include <string>
#include <string_view>

namespace syslog_listen::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace syslog_listen::win32

#endif  // SYSLOG_LISTEN_LISTENER_WIN32_TEXT_H_
