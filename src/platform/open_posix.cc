// In a folder that others may write, anyone could put a link there, at the
// log's name or at a folder on its way, to a place this user may write (its
// ~/.bashrc, or its home folder, say); the system's own protection against
// that holds only for the last part, and only in sticky folders. So the
// name is walked one part at a time, each opened from the descriptor of the
// folder before it, and a link is read through a descriptor of the very
// link whose owner was checked: swapping a part meanwhile gains nothing.
#include "platform/open_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

namespace syslog_listen {

namespace {

// Links followed in a row at most, as the system itself does.
constexpr int kMaxLinks = 40;

// A part looked at, not opened: a folder or a link itself.
constexpr int kLook = O_PATH | O_NOFOLLOW | O_CLOEXEC;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

int OpenWithoutPlantedLinks(const std::string& name, int flags) {
  if (name.empty()) return Fail(ENOENT);
  Descriptor folder(open(name.front() == '/' ? "/" : ".", kLook | O_DIRECTORY));
  std::string rest = name;  // what is left to walk, from `folder`
  for (int links = 0;;) {
    if (folder.get() < 0) return -1;
    const std::size_t start = rest.find_first_not_of('/');
    // Only slashes left: the name is a folder's.
    if (start == std::string::npos) return Fail(EISDIR);
    const std::size_t end = rest.find('/', start);
    const std::string part = rest.substr(start, end - start);
    rest.erase(0, end);
    if (end == std::string::npos) {
      const int fd =
          openat(folder.get(), part.c_str(), flags | O_NOFOLLOW, 0644);
      if (fd >= 0 || errno != ELOOP) return fd;
    }
    // ".." needs nothing of its own: opened from the folder held, it is
    // that folder's parent, as the system's own lookup has it after a link,
    // and never a link itself.
    Descriptor at(openat(folder.get(), part.c_str(), kLook));
    struct stat seen;
    if (at.get() < 0 || fstat(at.get(), &seen) != 0) return -1;
    if (S_ISDIR(seen.st_mode)) {
      folder = std::move(at);
      continue;
    }
    if (!S_ISLNK(seen.st_mode)) return Fail(ENOTDIR);
    if (++links > kMaxLinks || (seen.st_uid != 0 && seen.st_uid != geteuid())) {
      return Fail(ELOOP);
    }
    char target[PATH_MAX];
    const ssize_t length = readlinkat(at.get(), "", target, sizeof target);
    if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) {
      return Fail(ELOOP);
    }
    // The target takes the link's place; a relative one starts from the
    // link's folder, which `folder` still is.
    rest.insert(0, target, static_cast<std::size_t>(length));
    if (target[0] == '/') folder = Descriptor(open("/", kLook | O_DIRECTORY));
  }
}

}  // namespace syslog_listen
