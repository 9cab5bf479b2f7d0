// Every fixed text of syslog-listen-view, the live view of a log file, in
// the form of messages.h, whose templates and shared texts it uses.
#ifndef SYSLOG_LISTEN_COMMON_VIEW_MESSAGES_H_
#define SYSLOG_LISTEN_COMMON_VIEW_MESSAGES_H_

#include <string_view>

#include "common/messages.h"

namespace syslog_listen {

// The program's name, then the service's folder.
inline constexpr Template<2> kViewUsage{
    "Usage: %s [-h] [FILE]\n"
    "Shows the last 20 records of FILE, a log file that syslog-listen writes\n"
    "(with -t, records have their time, severity and sender), then each new\n"
    "record as it is written, one per line, in its severity's colour.\n"
    "FILE is followed by its name: when it is renamed or deleted, the new\n"
    "file of that name is shown. Without FILE: the service's log, the most\n"
    "recently written syslog.*.log in %s. Ctrl+C ends it.\n"
    "  -h              this help\n"};

// A second file on the command line, followed by the error tail.
inline constexpr Template<1> kViewSecondFile{
    "one file at a time: %s is a second\n"};

// On standard error at the start: the file shown...
inline constexpr Template<1> kViewShowing{"syslog-listen-view: showing %s\n"};
// ... and for the service's log, where the service's own notices go (its
// start, its stop, why it failed).
inline constexpr Template<2> kViewShowingService{
    "syslog-listen-view: showing %s, the service's log; the service's own "
    "notices are in %s\n"};
inline constexpr Template<2> kViewNoServiceLog{
    "syslog-listen-view: no syslog.*.log in %s that this user may read; "
    "waiting for one (the service's own notices are in %s)\n"};
inline constexpr std::string_view kJournalNotices =
    "the journal: journalctl -u syslog-listen";
inline constexpr std::string_view kEventLogNotices =
    "the Event Viewer, Windows Logs, Application";
inline constexpr std::string_view kServiceFolderLinux =
    "/var/log/syslog-listen";

// The service's log names: syslog.<port>.log.
inline constexpr std::string_view kServiceLogPrefix = "syslog.";
inline constexpr std::string_view kServiceLogSuffix = ".log";

// Once per streak, while the name names no file that can be shown.
inline constexpr Template<1> kViewMissing{
    "syslog-listen-view: %s does not exist; waiting for it\n"};
inline constexpr Template<1> kViewRefused{
    "syslog-listen-view: %s cannot be read by this user (or is no file); "
    "trying again\n"};
inline constexpr Template<1> kViewGone{
    "syslog-listen-view: %s was renamed or deleted; showing what is still "
    "written to it until a new file takes the name\n"};

// The terminal's title: the records shown, then the file's name.
inline constexpr Template<2> kViewTitle{
    "syslog-listen-view \u00b7 %s \u00b7 %s"};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_VIEW_MESSAGES_H_
