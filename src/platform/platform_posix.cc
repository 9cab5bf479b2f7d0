// POSIX side of the platform seam, with Linux's batched receive, forced
// receive queue size and drop counter.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/sock_diag.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <string>

#include "platform/account.h"
#include "platform/console_posix.h"
#include "platform/open_posix.h"
#include "platform/platform.h"

namespace syslog_listen {

void PrepareProcess(bool) {
  // open() returns the lowest free descriptor, so walking up from 0 fills
  // each closed one in place.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  // Load the zone rules once; localtime_r need not do it itself.
  tzset();
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool RunAsService(const std::function<void()>&) { return false; }

void ReportRunning() {}

void EndProcess(int code, std::string_view) { std::exit(code); }

std::FILE* OpenLogFile(const std::string& name, bool regularFileOnly) {
  // O_APPEND: every write lands at the current end, even when another
  // process appends or truncates the file meanwhile.
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
  if (regularFileOnly) flags |= O_NONBLOCK | O_NOCTTY;
  const int fd = regularFileOnly ? OpenWithoutPlantedLinks(name, flags)
                                 : open(name.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  struct stat opened;
  if (regularFileOnly && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
                          fcntl(fd, F_SETFL, O_APPEND) != 0)) {
    // A FIFO with a reader, or a device: someone else's, not a log file.
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

FileBytes FileText(std::string_view bytes, std::span<const std::size_t> ends) {
  return {bytes, ends};
}

FileWrite WriteToFile(std::FILE* file, std::string_view bytes) {
  FileWrite result;
  const int fd = fileno(file);
  while (result.written < bytes.size()) {
    const ssize_t n =
        write(fd, bytes.data() + result.written, bytes.size() - result.written);
    if (n > 0) {
      result.written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      result.failure = n < 0 && (errno == ENOSPC || errno == EDQUOT)
                           ? FileWrite::Failure::kFull
                           : FileWrite::Failure::kOther;
      break;
    }
  }
  return result;
}

bool IsRegularFile(std::FILE* file) {
  struct stat opened;
  return fstat(fileno(file), &opened) == 0 && S_ISREG(opened.st_mode);
}

NameState LookAtName(const std::string& name, std::FILE* file) {
  struct stat open;
  struct stat named;
  if (stat(name.c_str(), &named) != 0) {
    return errno == EACCES ? NameState::kNoAccess : NameState::kMoved;
  }
  return fstat(fileno(file), &open) == 0 && named.st_dev == open.st_dev &&
                 named.st_ino == open.st_ino
             ? NameState::kOpenFile
             : NameState::kMoved;
}

// A deleted file gives up its name at once.
FileLinks LinksOf(std::FILE* file) {
  struct stat open;
  return fstat(fileno(file), &open) == 0 && open.st_nlink == 0
             ? FileLinks::kDeleted
             : FileLinks::kNamed;
}

bool StartSockets() { return true; }

SocketHandle OpenUdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return -1;
  // As root or with CAP_NET_ADMIN (the service's), go past the system's
  // cap (net.core.rmem_max); otherwise the system grants what it allows.
  // Either way the server runs on.
  const int size = kReceiveQueueBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  return fd;
}

bool BindAnyIPv4(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address),
              sizeof address) == 0;
}

namespace {

// Written to by the stop signals' handler, so that a wait wakes for them.
int stopPipe[2] = {-1, -1};
// The signal that asked to stop; 0 until one has.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "read and written in a signal handler");

}  // namespace

// The kernel only rewrites the name and length fields of the headers it
// fills, so the headers are set up once and only those reset after a call.
struct DatagramReceiver::Batch {
  int fd;
  bool withSenders;
  // Not zeroed: the pages count as resident only once datagrams fill them.
  std::unique_ptr<char[]> buffers;
  mmsghdr messages[kBatch];
  iovec vectors[kBatch];
  sockaddr_in senders[kBatch];

  void Reset(int i) {
    messages[i].msg_hdr.msg_namelen = withSenders ? sizeof senders[i] : 0;
  }
};

DatagramReceiver::DatagramReceiver(SocketHandle socket, int capacity,
                                   bool withSenders)
    : batch_(new Batch) {
  Batch& b = *batch_;
  b.fd = static_cast<int>(socket);
  b.withSenders = withSenders;
  const auto size = static_cast<std::size_t>(capacity);
  b.buffers = std::make_unique_for_overwrite<char[]>(size * kBatch);
  for (int i = 0; i < kBatch; ++i) {
    b.vectors[i] = {b.buffers.get() + size * static_cast<std::size_t>(i), size};
    msghdr& header = b.messages[i].msg_hdr;
    header = msghdr{};
    header.msg_name = withSenders ? &b.senders[i] : nullptr;
    header.msg_iov = &b.vectors[i];
    header.msg_iovlen = 1;
    b.Reset(i);
  }
}

DatagramReceiver::~DatagramReceiver() = default;

int DatagramReceiver::Receive(int waitMs) {
  Batch& b = *batch_;
  if (waitMs != 0) {
    // The stop pipe wakes the wait; a signal alone (EINTR) counts as a
    // wake-up too.
    pollfd ready[] = {{b.fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    if (poll(ready, 2, waitMs) < 0 && errno != EINTR) return -1;
    if (ready[0].revents == 0) return 0;
  }
  // A longer datagram is cut to the capacity; MSG_TRUNC has its length as
  // sent reported, not what was kept.
  const int received =
      recvmmsg(b.fd, b.messages, kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
  if (received < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  }
  for (int i = 0; i < received; ++i) {
    const std::size_t size = b.messages[i].msg_len;
    datagrams_[i].size = size;
    datagrams_[i].bytes =
        std::string_view(static_cast<const char*>(b.vectors[i].iov_base),
                         std::min(size, b.vectors[i].iov_len));
    if (b.withSenders) {
      datagrams_[i].senderNetOrder = b.senders[i].sin_addr.s_addr;
    }
    b.Reset(i);
  }
  return received;
}

DropScope ReadDropCount(SocketHandle socket, std::uint32_t* count) {
  std::uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof info;
  if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_MEMINFO, info,
                 &length) != 0 ||
      length <= SK_MEMINFO_DROPS * sizeof info[0]) {
    return DropScope::kNone;
  }
  *count = info[SK_MEMINFO_DROPS];
  return DropScope::kSocket;
}

namespace {

void OnStopSignal(int signal) {
  int expected = 0;
  if (!stopSignal.compare_exchange_strong(expected, signal)) {
    // Asked twice: end now, giving the terminal its title back if it takes
    // it at once. The signal is blocked while its handler runs, and so is
    // delivered, with the default action, once it returns.
    const int saved = errno;
    PopTitle();
    errno = saved;
    ::signal(signal, SIG_DFL);
    raise(signal);
    return;
  }
  const int saved = errno;
  const char wake = 0;
  [[maybe_unused]] const ssize_t ignored = write(stopPipe[1], &wake, 1);
  errno = saved;
}

}  // namespace

void WatchForStop() {
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Other calls carry on; the wait in Receive ends either way.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    // Ignored by whoever started the server (nohup; a script's background
    // job, for SIGINT): it stays so.
    struct sigaction inherited {};
    if (sigaction(signal, nullptr, &inherited) == 0 &&
        inherited.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(signal, &action, nullptr);
  }
}

bool StopRequested() { return stopSignal.load(std::memory_order_relaxed) != 0; }

bool ReportWouldStartMidLine() {
  // Where the terminal echoes control characters, Ctrl+C shows as "^C".
  termios modes{};
  return stopSignal.load() == SIGINT && tcgetattr(STDERR_FILENO, &modes) == 0 &&
         (modes.c_lflag & (ECHO | ECHOCTL)) == (ECHO | ECHOCTL);
}

void EndAfterStop() {
  const int signal = stopSignal.load();
  ::signal(signal, SIG_DFL);
  raise(signal);
  // Not reached: the default action of each stop signal ends the process.
  std::_Exit(128 + signal);
}

namespace {

std::string ReadWholeFile(const char* path) {
  std::string text;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    text.append(chunk, n);
  }
  std::fclose(file);
  return text;
}

// Empties every capability set, the ambient one with them.
void DropCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  syscall(SYS_capset, &header, none);
}

}  // namespace

bool DropPrivileges() {
  if (geteuid() != 0) {
    // Reducing them cannot fail.
    DropCapabilities();
    return true;
  }
  // Read the file itself rather than through the name service: a static
  // executable cannot load its modules reliably.
  const auto account =
      FindAccount(ReadWholeFile("/etc/passwd"), kUnprivilegedUser);
  if (!account || account->uid == 0) return false;
  // Groups first: once the user id is gone, they cannot be changed.
  if (setgroups(0, nullptr) != 0 || setgid(account->gid) != 0 ||
      setuid(account->uid) != 0) {
    return false;
  }
  return geteuid() != 0;
}

void ReturnFreeMemory() { malloc_trim(0); }

void LowerThreadPriority() {
  // Linux keeps a nice value per thread: this lowers only the caller.
  const auto self = static_cast<id_t>(gettid());
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, self);
  if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(nice + 10, 19));
}

bool Nap(std::chrono::microseconds length) {
  const auto ns = std::chrono::nanoseconds(length).count();
  const timespec nap{static_cast<time_t>(ns / 1000000000), ns % 1000000000};
  nanosleep(&nap, nullptr);
  return true;
}

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_r(&time, local) != nullptr;
}

}  // namespace syslog_listen
