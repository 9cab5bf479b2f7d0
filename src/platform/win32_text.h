// What the Windows files of the platform seam share of text: UTF-8 and
// UTF-16 converted as Windows needs them, text mode's line ends, and whole
// writes to a handle. Included by the Windows files only, after winsock2.h
// where that is included.
#ifndef SYSLOG_LISTEN_PLATFORM_WIN32_TEXT_H_
#define SYSLOG_LISTEN_PLATFORM_WIN32_TEXT_H_

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace syslog_listen::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// `path` made full against the working folder, as the system resolves
// it; "" when it cannot be.
std::wstring FullPathOf(const std::wstring& path);
// A file name as CreateFileW takes it whole, long ones included.
std::wstring WidePath(const std::string& name);

// Appends `bytes` as the C runtime's text mode would write them: a CR before
// every LF, also before one that follows a CR.
void AppendAsText(std::string& out, std::string_view bytes);

HANDLE HandleOf(std::FILE* file);

// All of `bytes` in one write where the handle takes them; on a failure,
// how many it took before.
FileWrite WriteAll(HANDLE handle, std::string_view bytes);

}  // namespace syslog_listen::win32

#endif  // SYSLOG_LISTEN_PLATFORM_WIN32_TEXT_H_
