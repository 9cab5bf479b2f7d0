// What the Windows files of the platform seam share beyond text: the
// console's set-up and the stop request's event, each defined in the file
// of its layer. Included by the Windows files only, after winsock2.h where
// that is included.
#ifndef SYSLOG_LISTEN_PLATFORM_WIN32_H_
#define SYSLOG_LISTEN_PLATFORM_WIN32_H_

#include <windows.h>

namespace syslog_listen::win32 {

// Set by a request to stop, for a waiting receive to wake; null before
// WatchForStop. (process_win32.cc)
HANDLE StopEvent();

// Sets the console up for the server's output; RestoreConsole puts back,
// at the end, what is still as the server set it. (console_win32.cc)
void PrepareConsole();
void RestoreConsole();

}  // namespace syslog_listen::win32

#endif  // SYSLOG_LISTEN_PLATFORM_WIN32_H_
