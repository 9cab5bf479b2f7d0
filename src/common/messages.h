// Every fixed text the program prints and every exit code it ends with.
// Each text stands whole, as it is printed: "%s" marks a text and "%d" a
// number that the caller puts in that place, in order.
#ifndef SYSLOG_LISTEN_COMMON_MESSAGES_H_
#define SYSLOG_LISTEN_COMMON_MESSAGES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/counts.h"

namespace syslog_listen {

// A fixed text with `N` places for values, split once at compile time so
// that filling it costs only the appends. A text whose count of places is
// not `N` does not compile.
template <std::size_t N>
class Template {
 public:
  consteval explicit Template(std::string_view text) {
    std::size_t found = 0;
    std::size_t from = 0;
    for (std::size_t at = 0; at + 1 < text.size(); ++at) {
      if (text[at] != '%' || (text[at + 1] != 's' && text[at + 1] != 'd')) {
        continue;
      }
      if (found == N) throw "more places than the template declares";
      pieces_[found++] = text.substr(from, at - from);
      from = at + 2;
      ++at;
    }
    if (found != N) throw "fewer places than the template declares";
    pieces_[N] = text.substr(from);
  }

  // The fixed text before place `i`; piece(N) is the text after the last.
  constexpr std::string_view piece(std::size_t i) const { return pieces_[i]; }

 private:
  std::array<std::string_view, N + 1> pieces_{};
};

// Appends `text` with `values` in its places, in order.
template <std::size_t N, typename... Values>
void AppendFilled(std::string& out, const Template<N>& text,
                  const Values&... values) {
  static_assert(sizeof...(Values) == N, "one value for each place");
  std::size_t place = 0;
  ((out.append(text.piece(place++)), out.append(std::string_view(values))),
   ...);
  out.append(text.piece(N));
}

template <std::size_t N, typename... Values>
std::string Fill(const Template<N>& text, const Values&... values) {
  std::string out;
  AppendFilled(out, text, values...);
  return out;
}

inline constexpr std::int16_t kDefaultPort = 514;

// Exit codes. A socket interface that fails to start gets a code of its own:
// 0 would report the failure as a normal end.
inline constexpr int kExitCommandLine = 1;
inline constexpr int kExitSocketStart = 3;
inline constexpr int kExitOpenLog = 4;
inline constexpr int kExitSocket = 5;
inline constexpr int kExitBind = 6;
// Started by the Windows Service Control Manager, which it then could not
// reach.
inline constexpr int kExitService = 7;

// The program's name, then every description starting in column 19.
inline constexpr Template<1> kUsage{
    "Usage: %s [-p port] [-o filename] [-t] [-h]\n"
    "  -p port         specify the listening port, default 514\n"
    "  -o filename     specify the output file name, default syslog.port.log\n"
    "  -t              turn the local timestamp and parse the syslog header\n"
    "  -h              this help\n"};

// Command-line errors, each followed by the error tail with the program's
// name.
inline constexpr Template<1> kInvalidOption{"Invalid Option:%s\n"};
inline constexpr std::string_view kNoFileName =
    "no filename specified after -o option\n";
inline constexpr std::string_view kNoPort =
    "no port # specified after -p option\n";
inline constexpr Template<1> kInvalidPort{"invalid port #:%s\n"};
inline constexpr Template<1> kErrorTail{"Use: %s -h to get help information\n"};

// On standard error, for each word that is not an option (the scan skips
// them); with how to listen on one that is a port.
inline constexpr Template<1> kNotAnOption{
    "syslog-listen: %s is not an option and was ignored\n"};
inline constexpr Template<2> kNotAnOptionPort{
    "syslog-listen: %s is not an option and was ignored; to listen on it: "
    "-p %s\n"};
// ... and where it asks for help the Windows way (/?, /help).
inline constexpr Template<1> kNotAnOptionHelp{
    "syslog-listen: %s is not an option and was ignored; -h shows the "
    "options\n"};

// On standard error when -p's value is not the port the server listens on,
// as typed, then that port: a number past 65535, or below 0, wraps around;
// text after the digits is left out.
inline constexpr Template<2> kPortWrapped{
    "syslog-listen: -p %s is taken as UDP port %d: ports go from 1 to 65535, "
    "and other numbers wrap around\n"};
inline constexpr Template<2> kPortTakenAs{
    "syslog-listen: -p %s is taken as UDP port %d\n"};

// After a command-line error or a failed start, when the console was made
// for the process alone (started from Explorer), and closes with it.
inline constexpr std::string_view kPressAKey =
    "syslog-listen: press a key to close this window\n";

// Start-up failures.
inline constexpr Template<1> kOpenLogFailed{
    "failed to open file : %s for writing\n"};
inline constexpr std::string_view kSocketStartFailed = "Winsock init error\n";
inline constexpr std::string_view kSocketFailed = "open socket error\n";
inline constexpr Template<1> kBindFailed{"bind to port: %d error\n"};

inline constexpr Template<1> kDefaultLogName{"syslog.%d.log"};

// The time stamp text goes in with its line feed.
inline constexpr Template<2> kBanner{"syslog server(port:%d) started on %s"};

// Facility name, severity name, sender address.
inline constexpr Template<3> kConsoleAnnotation{"<fac:%s, svt:%s> from %s\n>>"};
inline constexpr Template<3> kFileAnnotation{
    "<type:%s, severity:%s> from %s\n>>"};

// Reports of the server's own go to standard error, so that the console
// records stay as they are: one line each. A count goes in with its noun
// ("1 record", "1,234 records"), from these:
inline constexpr Noun kDatagramNoun{"datagram", "datagrams"};
inline constexpr Noun kByteNoun{"byte", "bytes"};
inline constexpr Noun kRecordNoun{"record", "records"};
inline constexpr Noun kSenderNoun{"sender", "senders"};
inline constexpr Noun kMoreReportNoun{"more report", "more reports"};

// When the system has dropped datagrams for the socket; at most once a
// second. One, then more.
inline constexpr Template<1> kSocketDrops{
    "syslog-listen: %s dropped by the system since start (receive queue "
    "full)\n"};
// The same where the system counts only for the whole machine (Windows),
// counted only while datagrams arrive here.
inline constexpr Noun kUdpDatagramNoun{"UDP datagram", "UDP datagrams"};
inline constexpr Template<1> kMachineDrops{
    "syslog-listen: %s dropped on this machine (all programs) while "
    "datagrams arrived here (receive queues full or other errors)\n"};

// When datagrams longer than the receive takes (10000 bytes) were recorded
// cut; at most once a second. How many since the last report, then, in
// brackets where known, of the largest of them: its size (Windows does not
// say it) and its sender (at hand with -t); with no size, the sender of the
// first.
inline constexpr Noun kCutNoun{"datagram longer than 10000 bytes was",
                               "datagrams longer than 10000 bytes were"};
inline constexpr Template<2> kCutDatagrams{
    "syslog-listen: %s recorded cut to the first 10000%s\n"};
// The same for datagrams with a NUL byte, which ends the message text:
// recorded up to it, what follows left out.
inline constexpr Noun kNulCutNoun{"datagram with a NUL byte was",
                                  "datagrams with a NUL byte were"};
inline constexpr Template<2> kNulCutDatagrams{
    "syslog-listen: %s recorded up to the NUL, the rest left out%s\n"};
inline constexpr Template<1> kCutSize{"%s bytes"};
inline constexpr Template<1> kCutLargest{"the largest %s bytes"};
inline constexpr Template<1> kCutFrom{"from %s"};
inline constexpr Template<1> kCutFirstFrom{"the first from %s"};

// When the console has caught up after falling behind.
inline constexpr Template<1> kConsoleSkipped{
    "syslog-listen: %s not shown on the console (it fell behind); the log "
    "file has them all\n"};

// The log file's name, once it names another file or none and cannot be
// opened again: once per streak while the open file keeps its name...
inline constexpr Template<1> kReopenFailed{
    "syslog-listen: cannot reopen the log file %s; still writing to the open "
    "one\n"};
// ... and once a minute while the open file has no name left, or (Windows)
// had to be closed to free the name.
inline constexpr Template<1> kWritingToDeleted{
    "syslog-listen: the log file %s was deleted and cannot be created again; "
    "records are going into the deleted file\n"};
inline constexpr Template<1> kRecordsLost{
    "syslog-listen: the log file %s was deleted and cannot be created again; "
    "records are lost until it can be\n"};
// At start, when the user the server runs as may not look at the name.
inline constexpr Template<1> kNameNotFollowed{
    "syslog-listen: the log file %s will not be followed if it is renamed or "
    "deleted: the user the server runs as may not look into its directory\n"};

// When a write to the log file fails, once per streak: the records wait in
// memory (up to a bound) and are written, whole, once the file takes them.
inline constexpr Template<1> kLogFull{
    "syslog-listen: the disk is full: cannot write to the log file %s; "
    "records wait in memory until there is room\n"};
inline constexpr Template<1> kLogWriteFailed{
    "syslog-listen: cannot write to the log file %s; records wait in memory "
    "until it takes them again\n"};
// When the waiting records are written.
inline constexpr Template<1> kLogResumed{
    "syslog-listen: writing to the log file %s again; no record was lost\n"};
inline constexpr Template<2> kLogResumedWithLoss{
    "syslog-listen: writing to the log file %s again; %s lost while it took "
    "none (more than memory holds)\n"};
// When the file was deleted or renamed while records waited: they go to a
// new file at its name.
inline constexpr Template<1> kHeldForNewFile{
    "syslog-listen: the log file %s was deleted or renamed while records "
    "waited for room; they go into a new file of that name\n"};
// At the stop, when the file still takes nothing.
inline constexpr Template<2> kLogUnwritten{
    "syslog-listen: %s could not be written to the log file %s before the "
    "end\n"};

// Reports that piled up behind a standard error nobody took them from: the
// first few and the latest are written, and this line stands for the rest.
inline constexpr Template<1> kReportsLeftOut{
    "syslog-listen: %s left out (standard error took none for a while)\n"};

// In the event log, with kExitService.
inline constexpr std::string_view kServiceUnreachable =
    "syslog-listen: started as a service, but the Service Control Manager "
    "could not be reached\n";

// Why a start-up step failed: a line on standard error after the step's own
// message on standard output, for the user to act on.
// The port: another program holds it...
inline constexpr Template<3> kPortInUse{
    "syslog-listen: UDP port %d is in use by %s (process %d); stop that "
    "program, or choose another port with -p\n"};
// ... one this user may not see (the command that shows it)...
inline constexpr Template<2> kPortInUseUnseen{
    "syslog-listen: UDP port %d is in use by another program, one this user "
    "may not see; %s shows which\n"};
inline constexpr Template<1> kShowPortHolderLinux{
    "sudo ss -ulpn 'sport = :%d'"};
inline constexpr std::string_view kShowPortHolderWindows =
    "netstat -abno -p UDP, run as administrator,";
// ... a port below 1024 without the right to bind it (this executable's
// path, quoted for the shell where it needs to be)...
inline constexpr Template<1> kPortPrivileged{
    "syslog-listen: ports below 1024 need root or the right to bind them: "
    "start it as root, grant the right with sudo setcap "
    "cap_net_bind_service=+ep %s, or choose a port from 1024 up (-p 5514)\n"};
// ... held exclusively or reserved (Windows)...
inline constexpr Template<1> kPortReserved{
    "syslog-listen: UDP port %d is held exclusively by another program or "
    "lies in a range Windows reserves (netsh int ipv4 show excludedportrange "
    "protocol=udp shows those); choose another port with -p\n"};
// ... or the system's own words.
inline constexpr Template<2> kBindFailedBecause{
    "syslog-listen: cannot bind UDP port %d: %s\n"};
// The log file: its folder is missing...
inline constexpr Template<1> kNoFolder{
    "syslog-listen: the folder %s does not exist; create it, or choose "
    "another file with -o\n"};
inline constexpr Template<1> kNotPermitted{
    "syslog-listen: the user the server runs as may not create or write %s\n"};
inline constexpr Template<1> kIsFolder{
    "syslog-listen: %s is a folder; give a file's name with -o\n"};
inline constexpr Template<1> kFileLocked{
    "syslog-listen: another program has %s open and lets no one else write "
    "it; close that program, or choose another file with -o\n"};
inline constexpr Template<1> kReadOnly{
    "syslog-listen: %s is on a read-only file system\n"};
inline constexpr Template<2> kOpenFailedBecause{
    "syslog-listen: cannot open %s: %s\n"};

// A minute after the start, when nothing has arrived; once per run. The
// addresses, then the platform's firewall advice (or nothing).
inline constexpr Template<3> kNothingReceived{
    "syslog-listen: nothing received on UDP port %d in the first minute; "
    "senders must send to one of this machine's addresses (%s), and a "
    "firewall may be in the way%s\n"};
inline constexpr std::string_view kNoAddresses = "it has none but loopback";
inline constexpr std::string_view kAddressesUnlisted =
    "they could not be listed";
inline constexpr Template<1> kMoreAddresses{" and %d more"};

// Right after the banner: the port as bound, and as the banner shows it
// where that differs; a few of this machine's addresses (as above, or
// where they are not at hand, one of the hint's words for why); the log
// file's full path.
inline constexpr Template<4> kListening{
    "syslog-listen: listening on UDP port %d%s on %s; records go to %s\n"};
inline constexpr Template<1> kShownAs{" (shown as %d)"};
inline constexpr Template<1> kEveryAddress{"every address (%s)"};

// The port twice: the rule's name and the port it lets in.
inline constexpr Template<2> kFirewallCommand{
    "; to let it in, as administrator: netsh advfirewall firewall add rule "
    "name=\"syslog-listen UDP %d\" dir=in action=allow protocol=UDP "
    "localport=%d"};

// At a graceful stop: what the run received. The parts after the first
// appear when they apply.
inline constexpr Template<3> kAccount{
    "syslog-listen: stopped after %s; received %s (%s)"};
inline constexpr Template<1> kAccountDropped{"; %d dropped by the system"};
inline constexpr Template<1> kAccountMachineDropped{
    "; %d dropped on this machine (all programs) while datagrams arrived "
    "here"};
inline constexpr Template<1> kAccountCut{"; %d recorded cut to 10000 bytes"};
inline constexpr Template<1> kAccountNulCut{"; %d recorded up to a NUL byte"};
inline constexpr Template<1> kAccountNotShown{"; %s not shown on the console"};
inline constexpr Template<1> kAccountSenders{"; from %s"};
inline constexpr Template<1> kAccountManySenders{"; from more than %s"};

// With the first drop report, when the system granted the socket a smaller
// receive queue than the server asked for.
inline constexpr Template<2> kSmallQueue{
    "syslog-listen: the receive queue holds %d bytes, not the %d asked for: "
    "the system caps it (net.core.rmem_max); raise the cap with sudo sysctl "
    "-w net.core.rmem_max=8388608, or start the server as root or as the "
    "service, for a queue that takes a burst\n"};

// The terminal's title while the server runs: its port, what it received,
// then, where they apply, drops (for the socket, or the whole machine) and
// senders.
inline constexpr Template<2> kTitle{"syslog-listen :%d \u00b7 %d received"};
inline constexpr Template<1> kTitleDropped{" \u00b7 %d dropped"};
inline constexpr Template<1> kTitleMachineDropped{
    " \u00b7 %d dropped on this machine"};
inline constexpr Template<1> kTitleSenders{" \u00b7 %s"};

// Started as root, when the switch to the unprivileged user failed; the
// server keeps running and logging.
inline constexpr Template<1> kPrivilegesKept{
    "syslog-listen: still running as root: could not switch to user %s\n"};

// --- syslog-listen-view, the live view of a log file ---

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

#endif  // SYSLOG_LISTEN_COMMON_MESSAGES_H_
