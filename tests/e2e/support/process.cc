#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/harness.h"

namespace e2e {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

namespace {

// In the child: set up the console, then exec; never returns.
[[noreturn]] void ExecChild(const std::vector<std::string>& command,
                            const std::filesystem::path& dir, Stdout console,
                            int consoleFd, const std::string& stem) {
  if (chdir(dir.c_str()) != 0) _exit(126);
  const int err =
      open((stem + "stderr.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (err >= 0 && err != 2) {
    dup2(err, 2);
    close(err);
  }
  switch (console) {
    case Stdout::kFile: {
      const int out = open((stem + "console.out").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0) _exit(126);
      if (out != 1) {
        dup2(out, 1);
        close(out);
      }
      break;
    }
    case Stdout::kClosed:
      close(1);
      break;
    case Stdout::kNullWithErrorsStalled: {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(consoleFd, 2);
      break;
    }
    case Stdout::kPipeWithErrors:
    case Stdout::kTerminalWithErrors:
      dup2(consoleFd, 2);
      [[fallthrough]];
    case Stdout::kPipeWithoutReader:
    case Stdout::kPipe:
    case Stdout::kTerminal:
      dup2(consoleFd, 1);
      break;
  }
  // Files the server creates get the mode it asks for, whatever the
  // caller's mask.
  umask(022);
  // Whatever the caller's environment (a terminal of its own, tmux or
  // screen, a language): terminals without colours or titles, and a test
  // that wants them asks (env TERM=xterm NO_COLOR=); no multiplexer that
  // would keep the title from being set; one language. Wine's console
  // draws on the terminal it was started from as an xterm.
  setenv("NO_COLOR", "1", 1);
  setenv("TERM", WindowsServer() ? "xterm" : "dumb", 1);
  unsetenv("TMUX");
  unsetenv("STY");
  setenv("LC_ALL", "C.UTF-8", 1);
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  // The server must meet SIGPIPE with the default action, as under a shell.
  signal(SIGPIPE, SIG_DFL);
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

std::vector<std::string> Launch(const std::vector<std::string>& command) {
  std::vector<std::string> words;
  if (const char* launcher = Env("SYSLOG_LISTEN_LAUNCHER")) {
    std::istringstream in(launcher);
    for (std::string word; in >> word;) words.push_back(word);
  }
  words.insert(words.end(), command.begin(), command.end());
  return words;
}

std::vector<std::string> ServerCommand(const std::vector<std::string>& args) {
  const char* server = Env("SYSLOG_LISTEN_SERVER");
  std::vector<std::string> words = {server != nullptr ? server
                                                      : SYSLOG_LISTEN_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  return Launch(words);
}

std::vector<std::string> ViewCommand(const std::vector<std::string>& args) {
  const char* view = Env("SYSLOG_LISTEN_VIEW");
  std::vector<std::string> words = {
      view != nullptr ? view : SYSLOG_LISTEN_VIEW_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  return Launch(words);
}

bool WindowsServer() {
  const char* windows = Env("SYSLOG_LISTEN_WINDOWS");
  return windows != nullptr && std::string_view(windows) == "1";
}

bool Launched() { return Env("SYSLOG_LISTEN_LAUNCHER") != nullptr; }

std::chrono::milliseconds WaitLimit() {
  const char* seconds = Env("SYSLOG_LISTEN_WAIT");
  return std::chrono::seconds(seconds != nullptr ? std::atoi(seconds) : 20);
}

bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + WaitLimit();
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void GiveToServer(const std::filesystem::path& dir) {
  if (geteuid() != 0) return;
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr ||
      chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
    Fail("chown " + dir.string());
  }
}

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "syslog-listen-e2e.XXXXXX")
          .string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  path_ = pattern;
  GiveToServer(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ChildProcess::ChildProcess(const std::vector<std::string>& command,
                           const std::filesystem::path& dir, Stdout console,
                           std::string stem)
    : dir_(dir), stem_(std::move(stem)) {
  // ours: the end we keep (or close at once); theirs: the child's stdout.
  int ours = -1;
  int theirs = -1;
  if (console == Stdout::kPipe || console == Stdout::kPipeWithErrors ||
      console == Stdout::kPipeWithoutReader) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) Fail("pipe");
    ours = ends[0];
    theirs = ends[1];
  } else if (console == Stdout::kNullWithErrorsStalled) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) Fail("pipe");
    errorsFd_ = ends[0];
    theirs = ends[1];
    // Filled to the brim, then blocking again, as the server gets it.
    fcntl(theirs, F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '#');
    for (ssize_t n; (n = write(theirs, filler.data(), filler.size())) > 0;) {
      errorsFilled_ += static_cast<std::size_t>(n);
    }
    fcntl(theirs, F_SETFL, 0);
    fcntl(errorsFd_, F_SETFL, O_NONBLOCK);
  } else if (console == Stdout::kTerminal ||
             console == Stdout::kTerminalWithErrors) {
    ours = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ours < 0 || grantpt(ours) != 0 || unlockpt(ours) != 0) Fail("pty");
    theirs = open(ptsname(ours), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    // Raw: the terminal passes bytes through as the server wrote them.
    if (theirs < 0 || tcgetattr(theirs, &raw) != 0) Fail("pty slave");
    cfmakeraw(&raw);
    tcsetattr(theirs, TCSANOW, &raw);
  }
  pid_ = fork();
  if (pid_ < 0) Fail("fork");
  if (pid_ == 0) ExecChild(command, dir, console, theirs, stem_);
  if (theirs >= 0) close(theirs);
  if (console == Stdout::kPipeWithoutReader) {
    // The reader goes before the server writes anything: like `| head -0`.
    close(ours);
  } else if (ours >= 0) {
    fcntl(ours, F_SETFL, fcntl(ours, F_GETFL) | O_NONBLOCK);
    consoleFd_ = ours;
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  if (consoleFd_ >= 0) close(consoleFd_);
  if (errorsFd_ >= 0) close(errorsFd_);
}

bool ChildProcess::Running() {
  if (exitStatus_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  exitStatus_ = status;
  return false;
}

std::optional<int> ChildProcess::WaitForStatus() {
  if (!WaitUntil([this] { return !Running(); })) return std::nullopt;
  return exitStatus_;
}

std::optional<int> ChildProcess::WaitForExit() {
  const std::optional<int> status = WaitForStatus();
  if (!status || !WIFEXITED(*status)) return std::nullopt;
  return WEXITSTATUS(*status);
}

void ChildProcess::Kill() {
  if (!Running()) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  exitStatus_ = status;
}

void ChildProcess::Signal(int signal) {
  if (Running()) kill(pid_, signal);
}

const std::string& ChildProcess::ConsoleText() {
  if (consoleFd_ < 0) {
    consoleRead_ = ReadFile(dir_ / (stem_ + "console.out"));
    return consoleRead_;
  }
  char chunk[65536];
  for (ssize_t n; (n = read(consoleFd_, chunk, sizeof chunk)) > 0;) {
    consoleRead_.append(chunk, static_cast<std::size_t>(n));
  }
  return consoleRead_;
}

std::string ChildProcess::ErrorText() {
  if (errorsFd_ < 0) return ReadFile(dir_ / (stem_ + "stderr.out"));
  char chunk[65536];
  for (ssize_t n; (n = read(errorsFd_, chunk, sizeof chunk)) > 0;) {
    errorsRead_.append(chunk, static_cast<std::size_t>(n));
  }
  return errorsRead_.size() > errorsFilled_ ? errorsRead_.substr(errorsFilled_)
                                            : "";
}

std::string ChildProcess::Reports() { return WithoutMachineLines(ErrorText()); }

std::vector<std::string> Behind(std::vector<std::string> prefix, int port,
                                const std::vector<std::string>& extra) {
  for (const std::string& word : ServerCommand()) prefix.push_back(word);
  prefix.insert(prefix.end(), {"-p", std::to_string(port), "-o", "test.log"});
  prefix.insert(prefix.end(), extra.begin(), extra.end());
  return prefix;
}

std::vector<std::string> Peer(const std::string& program) {
  // Where each program lies in its unpacked package, and what it needs to
  // find its libraries and modules there.
  const std::filesystem::path root = SYSLOG_LISTEN_PEERS "/unpacked";
  const std::string syslogNg =
      "LD_LIBRARY_PATH=" + (root / "usr/lib/syslog-ng").string();
  const std::string prefix = "SYSLOGNG_PREFIX=" + (root / "usr").string();
  const std::map<std::string, std::vector<std::string>> unpacked = {
      {"syslog-ng", {"env", syslogNg, prefix, root / "usr/sbin/syslog-ng"}},
      {"loggen", {"env", syslogNg, prefix, root / "usr/bin/loggen"}},
      {"logrotate", {root / "usr/sbin/logrotate"}},
  };
  const auto found = unpacked.find(program);
  if (found != unpacked.end() &&
      access(found->second.back().c_str(), X_OK) == 0) {
    return found->second;
  }
  const std::string command = "command -v " + program + " >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) return {program};
  return {};
}

int RunToEnd(const std::vector<std::string>& command,
             const std::filesystem::path& dir) {
  ChildProcess child(
      command, dir, Stdout::kFile,
      std::filesystem::path(command[0]).filename().string() + ".");
  return child.WaitForExit().value_or(-1);
}

bool WaitingInReceive(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  return static_cast<bool>(in >> number) &&
         (number == SYS_poll || number == SYS_ppoll || number == SYS_recvmmsg ||
          number == SYS_recvfrom || number == SYS_recvmsg);
}

long ResidentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

bool WaitForBanner(const std::filesystem::path& path) {
  return WaitUntil([&] {
    const std::string text = ReadFile(path);
    const auto start = text.rfind("syslog server(port:");
    return start != std::string::npos &&
           text.find('\n', start) != std::string::npos;
  });
}

std::string WaitForSize(const std::filesystem::path& path, std::size_t size) {
  std::string text;
  WaitUntil([&] {
    text = ReadFile(path);
    return text.size() >= size;
  });
  return text;
}

Running::Running(const std::vector<std::string>& extra, Stdout console,
                 std::vector<std::string> prefix)
    : port_(FreeUdpPort()),
      server_(Behind(std::move(prefix), port_, extra), dir_.path(), console) {
  if (!WaitForBanner(log())) {
    throw std::runtime_error("the server did not start: " +
                             server_.ConsoleText() + server_.ErrorText());
  }
}

}  // namespace e2e
