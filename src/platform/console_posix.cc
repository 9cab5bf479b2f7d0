// POSIX side of the platform seam, the console: writes to standard output
// and error, the terminal's title, and a signal that breaks off a write to
// a console that takes nothing more.
#include "platform/console_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace syslog_listen {

namespace {

// The console's writes are given up: a write to it under way is broken off,
// and later ones take nothing.
std::atomic<bool> givenUp{false};
// The thread inside such a write, and whether there is one: the signal
// that breaks the write off goes to it.
std::atomic<pthread_t> writer{};
std::atomic<bool> writing{false};
// Breaks a write off: installed without SA_RESTART, so that the write
// returns what it took so far. Its default action, to be ignored, would not.
constexpr int kBreakOff = SIGURG;

void OnBreakOff(int) {}

// Writes `pieces` to `fd`, in order, gathered into as few system calls as
// it takes. Waits for as long as `fd` does not take them, unless the
// console's writes are given up and these are among them
// (`mayBeGivenUp`); stops at one that has gone. Returns the bytes taken.
std::size_t WriteAll(int fd, std::span<const std::string_view> pieces,
                     bool mayBeGivenUp = false) {
  constexpr std::size_t kMaxVectors = 64;
  iovec vectors[kMaxVectors];
  std::size_t taken = 0;
  std::size_t next = 0;  // the first piece not yet written whole
  std::size_t done = 0;  // bytes of it already written
  while (next < pieces.size()) {
    if (mayBeGivenUp && givenUp.load()) return taken;
    std::size_t count = 0;
    for (std::size_t i = next; i < pieces.size() && count < kMaxVectors;
         ++i, ++count) {
      const std::size_t skip = i == next ? done : 0;
      vectors[count] = {const_cast<char*>(pieces[i].data()) + skip,
                        pieces[i].size() - skip};
    }
    const ssize_t written = writev(fd, vectors, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      // The stream may have been left non-blocking by another program
      // sharing it: wait until it takes more (a signal that breaks the
      // write off ends the wait too).
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd writable{fd, POLLOUT, 0};
        poll(&writable, 1, -1);
        continue;
      }
      return taken;
    }
    taken += static_cast<std::size_t>(written);
    for (auto left = static_cast<std::size_t>(written); next < pieces.size();) {
      const std::size_t rest = pieces[next].size() - done;
      if (left < rest) {
        done += left;
        break;
      }
      left -= rest;
      ++next;
      done = 0;
    }
  }
  return taken;
}

}  // namespace

void WriteReport(std::string_view line) { WriteText(stderr, line); }

void WriteText(std::FILE* stream, std::string_view text) {
  WriteAll(fileno(stream), {&text, 1});
}

std::size_t WriteToConsole(std::span<const std::string_view> pieces) {
  writer.store(pthread_self());
  writing.store(true);
  const std::size_t taken = WriteAll(STDOUT_FILENO, pieces, true);
  writing.store(false);
  return taken;
}

void GiveUpConsoleWrites() {
  if (!givenUp.exchange(true)) {
    struct sigaction action {};
    action.sa_handler = OnBreakOff;
    sigemptyset(&action.sa_mask);
    sigaction(kBreakOff, &action, nullptr);
  }
  // The signal may come just before the write begins, and break nothing
  // off: the caller asks again.
  if (writing.load()) pthread_kill(writer.load(), kBreakOff);
}

bool OutputsShareStream() {
  struct stat out;
  struct stat err;
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) {
    return false;
  }
  // A terminal opened twice (2>/dev/tty) is one device under two names.
  if (S_ISCHR(out.st_mode) && S_ISCHR(err.st_mode)) {
    return out.st_rdev == err.st_rdev;
  }
  return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

bool IsNullDevice(std::FILE* stream) {
  struct stat target;
  struct stat nullDevice;
  return fstat(fileno(stream), &target) == 0 && S_ISCHR(target.st_mode) &&
         stat("/dev/null", &nullDevice) == 0 &&
         target.st_rdev == nullDevice.st_rdev;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

namespace {

bool EnvironmentSet(const char* name) {
  const char* set = std::getenv(name);
  return set != nullptr && *set != '\0';
}

// The title was pushed on the terminal's stack: read in the stop signal's
// handler.
std::atomic<bool> titlePushed{false};
// The terminal on standard output, opened again for the title's way back
// with a status of its own: never blocking, without touching how the user's
// own descriptor blocks.
int titleFd = -1;
constexpr char kPopTitle[] = "\x1b[23;2t";

}  // namespace

bool PopTitle() {
  // Taken first, so that a second signal meanwhile cannot pop it twice.
  if (!titlePushed.exchange(false)) return true;
  // A terminal takes a write this short whole, or nothing.
  const ssize_t n = write(titleFd, kPopTitle, sizeof kPopTitle - 1);
  if (n < 0 && errno == EAGAIN) {
    titlePushed.store(true);
    return false;
  }
  // Taken, or a terminal that has gone: nothing to try again.
  return true;
}

bool TerminalColours() { return true; }

bool TitleSettable() {
  const char* term = std::getenv("TERM");
  if (term == nullptr || !std::string_view(term).starts_with("xterm") ||
      EnvironmentSet("TMUX") || EnvironmentSet("STY")) {
    return false;
  }
  // Only a title that can always be given back is set.
  if (titleFd < 0) {
    titleFd =
        open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  return titleFd >= 0;
}

void SetTitle(std::string_view title) {
  // xterm's window operations: push the title, then set it (OSC 2). Marked
  // pushed first: a stop signal may come in the middle of the write.
  std::string bytes = titlePushed.exchange(true) ? "" : "\x1b[22;2t";
  bytes.append("\x1b]2;").append(title).append("\x07");
  WriteText(stdout, bytes);
}

bool RestoreTitle() { return PopTitle(); }

}  // namespace syslog_listen
