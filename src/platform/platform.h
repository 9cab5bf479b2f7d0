// The only header that knows platforms differ: process set-up, the log file,
// the local clock and the UDP socket. One platform's files are built:
// platform_posix.cc and its helpers, or on Windows a file per layer (text,
// console, process, files, socket: *_win32.cc); diagnose_*.cc for why a
// start failed; follow_*.cc for the live view's reading.
#ifndef SYSLOG_LISTEN_PLATFORM_PLATFORM_H_
#define SYSLOG_LISTEN_PLATFORM_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace syslog_listen {

// --- The process: start, arguments, service, stop, end ---

// Run first. Makes sure standard input, output and error are open (on the
// null device if need be), so that the log file or the socket cannot take
// their places, and makes writes to a pipe without reader fail instead of
// ending the process. The server turns a Windows console's quick-edit off,
// as a selection would hold up its writes; with `selectable` (the view,
// which writes nothing else) the console keeps the user's setting.
void PrepareProcess(bool selectable = false);

// The program's arguments, the first its name, as UTF-8 (Windows: from the
// UTF-16 command line, so that any file name arrives whole).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// When the system's service manager started the process (Windows), runs
// `serve` as the service and returns true once it has ended, or ends the
// process (kExitService) if the manager cannot be reached; false at once
// otherwise. A service has no console: records go to the file only, and
// reports to the system's log (WriteReport).
bool RunAsService(const std::function<void()>& serve);
// Start-up is done: a service reports that it runs.
void ReportRunning();
// Ends the process with `code` after a failure that `message` (already
// printed) describes, or a normal end; a service reports it.
[[noreturn]] void EndProcess(int code, std::string_view message);
// A line of the server's own for the user: to standard error, or from a
// service, to the system's log.
void WriteReport(std::string_view line);

// Makes a request to stop (SIGTERM, SIGINT and SIGHUP; on Windows Ctrl+C,
// Ctrl+Break, closing the console, logoff and shutdown) set StopRequested
// and end a waiting Receive, instead of ending the process at once. A
// second request ends the process at once.
void WatchForStop();
bool StopRequested();
// Once the server has kept what it held: ends the process as the request
// would have ended it without WatchForStop (the exit status still names
// the signal).
[[noreturn]] void EndAfterStop();

// --- The console: standard output and error, the terminal, its title ---

// Writes a text of the server's own (UTF-8: the usage text, a start-up
// failure, a report) to `stream`: on a console, shown as such whatever its
// code page; elsewhere the bytes that text mode writes. Waits as long as the
// stream does not take it; gives up on one that has gone.
void WriteText(std::FILE* stream, std::string_view text);

// Writes `pieces` to standard output, in order, in one system call where the
// system can gather them, so that a line written to standard error
// meanwhile cannot land inside them. Waits for as long as the console does
// not take them, until GiveUpConsoleWrites; stops at a console that has
// gone. Returns the bytes of `pieces` the console took, from the first:
// fewer than all when it has gone or the write was given up.
std::size_t WriteToConsole(std::span<const std::string_view> pieces);
// From another thread: breaks off the WriteToConsole under way, where the
// system allows it (POSIX: with a signal to the writing thread, which ends
// a write to a terminal, pipe or socket with what it took; Windows: a write
// that CancelSynchronousIo ends), and makes every later one take nothing.
// To be called again until the write has ended: the signal may come just
// before it begins.
void GiveUpConsoleWrites();
// True when standard output is a pipe whose reader has gone, found without
// writing anything to it.
bool ConsoleGone();

// True when standard output and standard error are the same pipe, terminal
// (under one name or two) or file, where a write to one could land inside
// a write to the other.
bool OutputsShareStream();

// True when `stream` writes to the null device, where writing is wasted.
bool IsNullDevice(std::FILE* stream);

// True when `stream` is a terminal (a tty, or a Windows console), which acts
// on control characters instead of showing them.
bool IsTerminal(std::FILE* stream);

// True when the terminal on standard output can show colours: on Windows,
// once the console takes virtual-terminal sequences (its mode is put back at
// the end), never where it refuses them.
bool TerminalColours();

// True when the server may set the title of the terminal on standard
// output and give the user's back at the end: a Windows console; elsewhere
// a terminal announced as xterm, which keeps a stack of titles, outside
// tmux and screen, which keep none. Before privileges are dropped: it may
// open the terminal again.
bool TitleSettable();
// Sets the title; from the console's writer, between records.
void SetTitle(std::string_view title);
// Gives back the title the user had, if one was set; writes to standard
// output where the terminal keeps the title, without waiting for it: false
// when the terminal takes nothing just now (try again). A second request to
// stop, which ends the process at once, gives it back too, where it can.
bool RestoreTitle();

// --- The log file ---

// Opens the log file write-only for appending, in text mode, creating it
// (mode 0644 where there are such bits) if needed; no lock. nullptr on
// failure. With `regularFileOnly`, for a name opened again after rotation,
// where anyone who may write in the directory may have put something else
// there: it must not block (a FIFO without reader), become the controlling
// terminal, or be anything but a regular file (a disk file on Windows), and
// it is not reached through a symbolic link that anyone but root or the
// process's own user made (on Windows, through any reparse point at the
// name, or any symbolic link or junction in place of one of its folders).
std::FILE* OpenLogFile(const std::string& name, bool regularFileOnly = false);

// The log file's bytes as the platform's text mode writes them (Windows: a
// CR before every LF), and `ends`, offsets into `bytes`, as offsets into
// those. Valid until the next call.
struct FileBytes {
  std::string_view text;
  std::span<const std::size_t> ends;
};
FileBytes FileText(std::string_view bytes, std::span<const std::size_t> ends);

// How a write to the log file went.
struct FileWrite {
  enum class Failure { kNone, kFull, kOther };
  std::size_t written = 0;  // bytes taken, from the first
  Failure failure = Failure::kNone;
};

// Appends `bytes`, as they are, to the log file, in one write where the
// system allows; on a failure, says how many it took before.
FileWrite WriteToFile(std::FILE* file, std::string_view bytes);

// True when `file` is a regular file (a disk file on Windows): a FIFO or a
// device is not rotated.
bool IsRegularFile(std::FILE* file);

// What the log file's name names now.
enum class NameState {
  kOpenFile,  // the file that is open
  kMoved,     // nothing, or another file
  kNoAccess,  // cannot tell: the process may not look into the directory
};
NameState LookAtName(const std::string& name, std::FILE* file);

// Whether an open file still has a name.
enum class FileLinks {
  kNamed,
  kDeleted,        // deleted; its name is free and its data goes when closed
  kDeletePending,  // deleted, but its name stays taken until it is closed
};
FileLinks LinksOf(std::FILE* file);

// --- The UDP socket, and why a start failed ---

// A file descriptor or a SOCKET; the invalid value reads as negative.
using SocketHandle = std::intptr_t;

// The receive queue asked for: a burst of tens of thousands of small
// datagrams fits while the server writes.
inline constexpr int kReceiveQueueBytes = 8 * 1024 * 1024;

// Starts the socket interface; false on failure.
bool StartSockets();

// An IPv4 UDP socket with a receive queue as large as the system grants, up
// to kReceiveQueueBytes; negative on failure.
SocketHandle OpenUdpSocket();

// Binds to every local IPv4 address and the given port; false on failure.
bool BindAnyIPv4(SocketHandle socket, std::uint16_t port);

// The system's error code for the call that failed last (errno, or
// GetLastError); read at once, before anything else can change it.
int LastSystemError();

// Why OpenLogFile of `name` failed, or BindAnyIPv4 to `port`, with `error`,
// as a line the user can act on (the folder that is missing, the program
// that holds the port, looked for within a bounded time, a right that is
// lacking), else the system's words.
std::string WhyOpenFailed(const std::string& name, int error);
std::string WhyBindFailed(std::uint16_t port, int error);

// The machine's IPv4 addresses other than loopback, as dotted quads;
// nullopt when the system would not list them.
std::optional<std::vector<std::string>> LocalAddresses();

// How to let UDP `port` in through the platform's own firewall, as the end
// of a sentence ("; ..."), or "" where there is no one way.
std::string FirewallAdvice(std::uint16_t port);

// The receive queue the system granted `socket`, in the bytes asked for
// (kReceiveQueueBytes); -1 when it cannot tell.
long GrantedReceiveQueue(SocketHandle socket);

// One received datagram.
struct Datagram {
  // Where the system does not say how long a datagram that was cut was.
  static constexpr std::size_t kUnknownSize = SIZE_MAX;

  std::string_view bytes;  // a longer datagram is cut to the capacity
  // As sent: more than bytes.size() when it was cut, or kUnknownSize.
  std::size_t size = 0;
  std::uint32_t senderNetOrder = 0;
};

// Receives from a bound socket in batches, into buffers of its own.
class DatagramReceiver {
 public:
  // Datagrams taken by one Receive at most.
  static constexpr int kBatch = 16;

  // Senders' addresses are filled in only when `withSenders` is set: asking
  // for them costs the system time per datagram.
  DatagramReceiver(SocketHandle socket, int capacity, bool withSenders);
  ~DatagramReceiver();
  DatagramReceiver(const DatagramReceiver&) = delete;
  DatagramReceiver& operator=(const DatagramReceiver&) = delete;

  // Receives up to kBatch datagrams. `waitMs` says how long to wait for the
  // first: -1 as long as it takes, 0 not at all, else at most that many
  // milliseconds; a stop request (see WatchForStop) ends the wait. The rest
  // of the batch is what is queued already. Returns how many were received
  // (0 when none came in time), or -1 when the socket failed. The
  // datagrams stay valid until the next call.
  int Receive(int waitMs);
  const Datagram& operator[](int i) const { return datagrams_[i]; }

 private:
  struct Batch;  // the platform's buffers and call arguments
  std::unique_ptr<Batch> batch_;
  Datagram datagrams_[kBatch];
};

// What the system counts of the datagrams it dropped because a receive
// queue was full.
enum class DropScope {
  kNone,     // nothing can be read
  kSocket,   // the socket's own, since it was opened (Linux)
  kMachine,  // every UDP datagram the machine could not deliver (Windows)
};
// Sets `*count` to that count. Asking costs a system call: not per
// datagram.
DropScope ReadDropCount(SocketHandle socket, std::uint32_t* count);

// --- What the user is told at the start and the end ---

// The log file's full path, for the user to find it: `name` made absolute
// against the working directory (POSIX: without resolving links); `name`
// itself where that fails.
std::string FullPath(const std::string& name);

// At a stop: true when a report on standard error would start in mid-line,
// on a terminal that echoed the Ctrl+C that asked for the stop ("^C") on
// the line the cursor is on.
bool ReportWouldStartMidLine();

// The console as it matters at a failed start's end: how many processes
// share it (1: it was made for this one, as for a program started from
// Explorer; 0: none, or a platform that cannot tell), and whether standard
// input and standard error are it.
struct ConsoleOwners {
  int processes = 0;
  bool input = false;
  bool error = false;
};
ConsoleOwners LookAtConsole();
// Waits for a key on the console (standard input); puts back what it
// changes.
void WaitForKey();

// --- Privileges, threads, memory and the clock ---

// The unprivileged account DropPrivileges switches to from root.
inline constexpr std::string_view kUnprivilegedUser = "nobody";

// When running as root, switches to an unprivileged user and group, with no
// supplementary groups, so that no fault in the receive path runs as root;
// otherwise gives up every capability it was started with (a service's, to
// bind a low port and size the receive queue past the system's cap). Open
// files and sockets stay usable. True when done or not needed; false when
// the switch could not be made and the process keeps its privileges.
bool DropPrivileges();

// Lowers the calling thread's priority below that of the process's other
// threads.
void LowerThreadPriority();

// Sleeps for `length`, a millisecond or less: long enough for work to
// gather (datagrams at a high rate, records for the console), short enough
// not to be noticed. False, at once, where the system cannot sleep that
// briefly.
bool Nap(std::chrono::microseconds length);

// Hands memory that has been freed back to the system, where the allocator
// keeps it otherwise.
void ReturnFreeMemory();

// Converts to the machine's local time; false if it cannot.
bool ToLocalTime(std::time_t time, std::tm* local);

// --- Reading a log file while it is written (syslog-listen-view) ---

// What identifies a file whatever its name: its device and inode, or on
// Windows its volume's serial number and its index there.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Opens the regular file `name` to read, keeping nobody from writing,
// renaming or deleting it meanwhile (on Windows, shared for all three).
// nullptr on failure, with `*missing` set when nothing is at the name.
std::FILE* OpenToFollow(const std::string& name, bool* missing);

// An open file's identity, and that of what `name` names now; nullopt when
// the system does not tell (nothing at the name, say).
std::optional<FileIdentity> IdentityOf(std::FILE* file);
std::optional<FileIdentity> IdentityAt(const std::string& name);

// An open file's size now; nullopt when the system does not tell.
std::optional<std::uint64_t> SizeOf(std::FILE* file);

// Reads up to `into.size()` bytes of `file` from `offset`: how many, 0 at
// the end or on a failure.
std::size_t ReadAt(std::FILE* file, std::uint64_t offset, std::span<char> into);

// A regular file in a folder, and when it was last written, in units of the
// platform's that only compare.
struct FolderEntry {
  std::string name;  // without the folder
  std::string path;  // with it
  std::int64_t written = 0;
};
// The regular files in `folder`; none when it cannot be listed.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// Where the service keeps its log (Linux: /var/log/syslog-listen; Windows:
// syslog-listen in the ProgramData folder), and where its own notices go.
std::string ServiceLogFolder();
std::string_view ServiceNoticesPlace();

// Sleeps for `length`, and no longer once a stop is requested (see
// WatchForStop).
void PauseUnlessStopped(std::chrono::milliseconds length);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_PLATFORM_PLATFORM_H_
