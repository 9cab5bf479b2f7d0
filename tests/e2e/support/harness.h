// Runs the real server as a child process on a loopback port, sends it UDP
// datagrams and reads back what it wrote. POSIX only: the server under test
// may still be another platform's build, started through a command prefix.
// Declared here by concern, each defined in a file of its own.
#ifndef SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_
#define SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// ---- UDP (udp.cc): datagrams to the server on 127.0.0.1, and its socket's
// queue as the system shows it.

// A UDP socket on 127.0.0.1 or on every address; closed on destruction.
class UdpSocket {
 public:
  // Port 0 picks a free one.
  explicit UdpSocket(int port = 0, bool anyAddress = false);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  int port() const { return port_; }
  void SendTo(int port, std::string_view bytes) const;
  // Every datagram that arrives until none has come for `quiet`.
  std::vector<std::string> ReceiveUntilQuiet(std::chrono::milliseconds quiet);

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port that was free a moment ago, where it can be one that no socket
// bound to port 0 (a sender's) can take meanwhile.
int FreeUdpPort();

// Sends one datagram once the receive queue of `port` has room, so that no
// datagram is dropped however slowly the server runs (under valgrind, say).
void SendPaced(const UdpSocket& sender, int port, std::string_view bytes);

// Bytes waiting in the receive queue of the UDP socket bound to `port`, as
// /proc/net/udp shows them; -1 when no such socket is found.
long ReceiveQueueBytes(int port);

// Datagrams the system dropped for the UDP socket bound to `port` because
// its queue was full; -1 when no such socket is found.
long DroppedAt(int port);

// ---- Child processes (process.cc): the server under test, and programs
// beside it: how they are found and started, the folders they run in, the
// waits for them, their console, standard error and log file, and their
// state in /proc.

// Throws `what` with the system's error text: the harness cannot go on.
[[noreturn]] void Fail(const std::string& what);

// The words that start the server with `args`: the executable
// SYSLOG_LISTEN_SERVER (else the one built beside the tests), run through
// SYSLOG_LISTEN_LAUNCHER when that is set (for example wine, for the
// Windows build).
std::vector<std::string> ServerCommand(
    const std::vector<std::string>& args = {});

// The same for the live view: SYSLOG_LISTEN_VIEW, else the one built beside
// the tests.
std::vector<std::string> ViewCommand(const std::vector<std::string>& args = {});

// `command` run through SYSLOG_LISTEN_LAUNCHER when that is set: under wine,
// a Windows program (cmd /c ren, say).
std::vector<std::string> Launch(const std::vector<std::string>& command);

// True when the server under test is the Windows build (run under wine;
// SYSLOG_LISTEN_WINDOWS=1): its outputs are in text mode, which turns
// every line feed into CR LF, and its drop count is the whole machine's.
bool WindowsServer();

// True when the server runs under a launcher (wine, valgrind), whose own
// memory and threads make the process's figures meaningless.
bool Launched();

// True when the tests themselves run under AddressSanitizer, and so, as the
// build puts it, the server too.
bool Sanitized();

// How to run `program`, a program we did not write (syslog-ng, loggen,
// logrotate): from the packages unpacked into the build folder
// (scripts/peer.sh), else from the PATH; empty when it is in neither.
std::vector<std::string> Peer(const std::string& program);

// How long to wait for anything the server should do (SYSLOG_LISTEN_WAIT,
// in seconds; 20 by default).
std::chrono::milliseconds WaitLimit();

// Polls `done` until it holds or the wait limit passes.
bool WaitUntil(const std::function<bool()>& done);

// Whole contents, or "" when the file cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Started by root, the server runs on as nobody, who must still be able to
// look at its log file's name and create a new file in `dir`: when root,
// gives `dir` to nobody.
void GiveToServer(const std::filesystem::path& dir);

// A fresh directory, given to the server, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Where the server's standard output goes: a file (dir/console.out), a
// closed descriptor, a pipe whose reader has gone, a pipe we read (and
// which standard error shares, as with 2>&1), a pseudo-terminal in raw
// mode that we read (which standard error may share), or the null device,
// with standard error a pipe that is full until we read it (ErrorText).
enum class Stdout {
  kFile,
  kClosed,
  kPipeWithoutReader,
  kPipe,
  kPipeWithErrors,
  kTerminal,
  kTerminalWithErrors,
  kNullWithErrorsStalled
};

// A program run as a child process in `dir`, its standard error captured in
// dir/<stem>stderr.out (and a console of kFile in dir/<stem>console.out):
// processes that share a directory need stems of their own. Killed on
// destruction.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& command,
               const std::filesystem::path& dir, Stdout console = Stdout::kFile,
               std::string stem = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit code once the process has ended by itself, within the limit.
  std::optional<int> WaitForExit();
  // The status waitpid gives once the process has ended, within the limit.
  std::optional<int> WaitForStatus();
  // True while the process has not ended.
  bool Running();
  void Kill();
  void Signal(int signal);
  pid_t pid() const { return pid_; }
  // Everything written to standard output so far; valid until the next
  // call.
  const std::string& ConsoleText();
  std::string ErrorText();
  // ErrorText without the lines that depend on the machine.
  std::string Reports();

 private:
  pid_t pid_ = -1;
  std::filesystem::path dir_;
  std::string stem_;
  std::optional<int> exitStatus_;
  int consoleFd_ = -1;  // our end of a pipe or terminal
  std::string consoleRead_;
  int errorsFd_ = -1;             // our end of a stalled standard error
  std::size_t errorsFilled_ = 0;  // bytes we stalled it with
  std::string errorsRead_;
};

// The server's command, run by `prefix`, on `port` with -o test.log, then
// `extra`.
std::vector<std::string> Behind(std::vector<std::string> prefix, int port,
                                const std::vector<std::string>& extra = {});

// Runs `command` in `dir` to its end (within the wait limit, else kills
// it); its exit code, or -1. Its outputs go to dir/<name>.console.out and
// dir/<name>.stderr.out, where <name> is the file name of the program.
int RunToEnd(const std::vector<std::string>& command,
             const std::filesystem::path& dir);

// Waits until `path` holds a whole banner line; returns whether it did.
bool WaitForBanner(const std::filesystem::path& path);

// Waits until `path` holds at least `size` bytes, then returns them all.
std::string WaitForSize(const std::filesystem::path& path, std::size_t size);

// True when the process is blocked in a receive, or in a wait for one.
bool WaitingInReceive(pid_t pid);

// The process's resident size in KiB (VmRSS), or -1.
long ResidentKiB(pid_t pid);

// A server started in a fresh directory with `-p <free port> -o test.log`
// plus `extra`, run by `prefix` where given, listening when the constructor
// returns (else it throws, with what the server said).
class Running {
 public:
  explicit Running(const std::vector<std::string>& extra = {},
                   Stdout console = Stdout::kFile,
                   std::vector<std::string> prefix = {});
  int port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path log() const { return dir_.path() / "test.log"; }
  ChildProcess& server() { return server_; }
  void Send(std::string_view bytes) const { sender_.SendTo(port_, bytes); }
  void SendPaced(std::string_view bytes) const {
    e2e::SendPaced(sender_, port_, bytes);
  }

 private:
  TempDir dir_;
  UdpSocket sender_;
  int port_;
  ChildProcess server_;
};

// ---- Text (text.cc): the texts the server writes as the tests expect them,
// and the masks and comparison that make its output comparable byte for
// byte.

// `text` as the server's outputs carry it: LF becomes CR LF on Windows.
std::string OnDisk(std::string_view text);

// The port number as the server prints it: its 16 bits read signed.
int SignedPort(int port);

// The banner line for `port` as MaskTimestamps shows it.
std::string Banner(int port);

// "b000042\n": a numbered line, for telling records apart in order.
std::string Numbered(char tag, int i);

// "" when the texts are equal; otherwise their sizes and a short excerpt of
// each where they first differ, so that a failure stays readable for texts
// of megabytes.
std::string Mismatch(const std::string& expected, const std::string& actual);

// Replaces every time stamp text ("Mon Jun 02 09:05:07 2025") with "<time>".
std::string MaskTimestamps(const std::string& text);

// Replaces how long a run lasted, in the account the server gives when it
// stops ("stopped after 2 min 5 s;"), with "<time>".
std::string MaskRunTime(std::string text);

// The size of the real text that `masked` stands for.
std::size_t RealSize(const std::string& masked);

// `text` without the lines that depend on the machine more than on the
// test: the start-up line, which names its addresses, and the Windows
// build's drop reports, which count the whole machine's drops, other
// tests' among them (and that count in the account at the stop).
std::string WithoutMachineLines(std::string text);

}  // namespace e2e

#endif  // SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_
