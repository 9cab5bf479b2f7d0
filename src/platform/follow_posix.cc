// POSIX side of the platform seam for the live view: reading a log file
// that is written, renamed and deleted meanwhile, the service's folder, a
// pause that a stop request ends, and a reader that has gone.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/messages.h"
#include "platform/platform.h"

namespace syslog_listen {

namespace {

FileIdentity IdentityFrom(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev),
          static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::FILE* OpenToFollow(const std::string& name, bool* missing) {
  // Not blocking on a FIFO that someone put at the name, nor taking a
  // terminal as the controlling one: neither is a log file.
  const int fd =
      open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  *missing = fd < 0 && (errno == ENOENT || errno == ENOTDIR);
  if (fd < 0) return nullptr;
  struct stat status;
  std::FILE* file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                        ? fdopen(fd, "r")
                        : nullptr;
  if (file == nullptr) close(fd);
  return file;
}

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0) return std::nullopt;
  return IdentityFrom(status);
}

std::optional<FileIdentity> IdentityAt(const std::string& name) {
  struct stat status;
  if (stat(name.c_str(), &status) != 0) return std::nullopt;
  return IdentityFrom(status);
}

std::optional<std::uint64_t> SizeOf(std::FILE* file) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

std::size_t ReadAt(std::FILE* file, std::uint64_t offset,
                   std::span<char> into) {
  for (;;) {
    const ssize_t n = pread(fileno(file), into.data(), into.size(),
                            static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return 0;
  }
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = readdir(dir)) {
    struct stat status;
    if (fstatat(dirfd(dir), entry->d_name, &status, 0) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    entries.push_back(
        {entry->d_name, folder + "/" + entry->d_name,
         static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
             status.st_mtim.tv_nsec});
  }
  closedir(dir);
  return entries;
}

std::string ServiceLogFolder() { return std::string(kServiceFolderLinux); }

std::string_view ServiceNoticesPlace() { return kJournalNotices; }

void PauseUnlessStopped(std::chrono::milliseconds length) {
  // The stop signals are held off until the wait, which takes them
  // atomically: one that comes just before it still ends it.
  sigset_t stops;
  sigset_t previous;
  sigemptyset(&stops);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  if (!StopRequested()) {
    const auto ns = std::chrono::nanoseconds(length).count();
    const timespec wait{static_cast<time_t>(ns / 1000000000),
                        static_cast<long>(ns % 1000000000)};
    ppoll(nullptr, 0, &wait, &previous);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool ConsoleGone() {
  // A pipe's writing end reports an error once no reader is left.
  pollfd out{STDOUT_FILENO, 0, 0};
  return poll(&out, 1, 0) > 0 && (out.revents & POLLERR) != 0;
}

}  // namespace syslog_listen
