// What the POSIX files of the platform seam share of the console: the
// title's way back, for the stop signals' handler.
#ifndef SYSLOG_LISTEN_PLATFORM_CONSOLE_POSIX_H_
#define SYSLOG_LISTEN_PLATFORM_CONSOLE_POSIX_H_

namespace syslog_listen {

// Gives the terminal the title back that the server's replaced, if it did.
// Async-signal-safe: one attempt, never waiting; false when the terminal
// took nothing just now (try again).
bool PopTitle();

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_PLATFORM_CONSOLE_POSIX_H_
