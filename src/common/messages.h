// Every fixed text the program prints and every exit code it ends with.
// Texts are byte-exact; "%s"/"%d" mark where a caller inserts a value.
#ifndef SYSLOG_LISTEN_COMMON_MESSAGES_H_
#define SYSLOG_LISTEN_COMMON_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace syslog_listen {

inline constexpr std::int16_t kDefaultPort = 514;

// Exit codes. A socket interface that fails to start gets a code of its own:
// 0 would report the failure as a normal end.
inline constexpr int kExitCommandLine = 1;
inline constexpr int kExitSocketStart = 3;
inline constexpr int kExitOpenLog = 4;
inline constexpr int kExitSocket = 5;
inline constexpr int kExitBind = 6;

// Usage text: every description starts in column 19.
inline constexpr std::string_view kUsageHead = "Usage: ";
inline constexpr std::string_view kUsageTail =
    " [-p port] [-o filename] [-t] [-h]\n"
    "  -p port         specify the listening port, default 514\n"
    "  -o filename     specify the output file name, default syslog.port.log\n"
    "  -t              turn the local timestamp and parse the syslog header\n"
    "  -h              this help\n";

// Command-line errors; each is followed by the error tail.
inline constexpr std::string_view kInvalidOption = "Invalid Option:";
inline constexpr std::string_view kNoFileName =
    "no filename specified after -o option\n";
inline constexpr std::string_view kNoPort =
    "no port # specified after -p option\n";
inline constexpr std::string_view kInvalidPort = "invalid port #:";
// Error tail: "Use: " program name " -h to get help information\n".
inline constexpr std::string_view kErrorTailHead = "Use: ";
inline constexpr std::string_view kErrorTailTail =
    " -h to get help information\n";

// Start-up failures.
inline constexpr std::string_view kOpenLogHead = "failed to open file : ";
inline constexpr std::string_view kOpenLogTail = " for writing\n";
inline constexpr std::string_view kSocketStartFailed = "Winsock init error\n";
inline constexpr std::string_view kSocketFailed = "open socket error\n";
inline constexpr std::string_view kBindHead = "bind to port: ";
inline constexpr std::string_view kBindTail = " error\n";

// Default log file name: "syslog." port ".log".
inline constexpr std::string_view kLogNameHead = "syslog.";
inline constexpr std::string_view kLogNameTail = ".log";

// Banner: "syslog server(port:" port ") started on " time stamp "\n".
inline constexpr std::string_view kBannerHead = "syslog server(port:";
inline constexpr std::string_view kBannerMiddle = ") started on ";

// Annotation, worded differently for the console and the log file:
// "<fac:" facility ", svt:" severity "> from " address "\n>>".
inline constexpr std::string_view kConsoleFacility = "<fac:";
inline constexpr std::string_view kConsoleSeverity = ", svt:";
inline constexpr std::string_view kFileFacility = "<type:";
inline constexpr std::string_view kFileSeverity = ", severity:";
inline constexpr std::string_view kAnnotationFrom = "> from ";
inline constexpr std::string_view kAnnotationEnd = "\n>>";

// Reports of the server's own go to standard error, so that the console
// records stay as they are. Each is one line, "syslog-listen: " and the
// report.
inline constexpr std::string_view kReportHead = "syslog-listen: ";

// At most once a second, when the system has dropped datagrams: head, count,
// tail.
inline constexpr std::string_view kDropReportTail =
    " datagrams dropped by the system since start (receive queue full)\n";

// The same where the system counts only for the whole machine (Windows):
// head, count since start, tail.
inline constexpr std::string_view kMachineDropReportTail =
    " UDP datagrams dropped on this machine since start (receive queues full "
    "or other errors)\n";

// When the console has caught up after falling behind: head, the number of
// records it skipped, tail.
inline constexpr std::string_view kSkippedTail =
    " records not shown on the console (it fell behind); the log file has "
    "them all\n";

// When the log file has been renamed or deleted and a file of its name
// cannot be opened again: head, name, tail. Once per streak of failures.
inline constexpr std::string_view kReopenFailedHead =
    "syslog-listen: cannot reopen the log file ";
inline constexpr std::string_view kReopenFailedTail =
    "; still writing to the open one\n";

// Standard error, when started as root and the switch to the unprivileged
// user failed: head, user name, "\n". The server keeps running and logging.
inline constexpr std::string_view kPrivilegesKeptHead =
    "syslog-listen: still running as root: could not switch to user ";

// A text made of a fixed head, a value and a fixed tail, as above.
inline std::string Concat(std::string_view head, std::string_view value,
                          std::string_view tail) {
  std::string text(head);
  text.append(value);
  text.append(tail);
  return text;
}

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_MESSAGES_H_
