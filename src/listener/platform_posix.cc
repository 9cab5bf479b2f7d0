// POSIX side of the platform seam, with Linux's batched receive, forced
// receive queue size and drop counter.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "listener/account.h"
#include "listener/platform.h"

namespace syslog_listen {

namespace {

// Datagrams taken by one system call at most.
constexpr int kMaxBatch = 64;

}  // namespace

void PrepareProcess() {
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

bool IsNullDevice(std::FILE* stream) {
  struct stat target;
  struct stat nullDevice;
  return fstat(fileno(stream), &target) == 0 && S_ISCHR(target.st_mode) &&
         stat("/dev/null", &nullDevice) == 0 &&
         target.st_rdev == nullDevice.st_rdev;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::FILE* OpenLogFile(const std::string& name) {
  // O_APPEND: every write lands at the current end, even when another
  // process appends or truncates the file meanwhile.
  const int fd =
      open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

bool NamesOpenFile(const std::string& name, std::FILE* file) {
  struct stat open;
  struct stat named;
  return file != nullptr && fstat(fileno(file), &open) == 0 &&
         stat(name.c_str(), &named) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}

// A deleted file gives up its name at once.
bool DeletePending(std::FILE*) { return false; }

bool StartSockets() { return true; }

SocketHandle OpenUdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return -1;
  // As root, go past the system's cap (net.core.rmem_max); otherwise the
  // system grants what it allows. Either way the server runs on.
  const int size = kReceiveQueueBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  // Every datagram then carries the count of those dropped before it.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
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

// The batch's message headers, set up once for a given set of slots: the
// kernel only rewrites the name and control lengths of those it fills, so
// only those need resetting after each call.
struct BatchHeaders {
  mmsghdr messages[kMaxBatch];
  iovec vectors[kMaxBatch];
  sockaddr_in senders[kMaxBatch];
  // CMSG_SPACE is a multiple of the header's alignment, so every row is
  // aligned too.
  alignas(cmsghdr) char controls[kMaxBatch][CMSG_SPACE(sizeof(std::uint32_t))];
  const DatagramSlot* slots = nullptr;
  int count = 0;
  int capacity = 0;
  bool withSenders = false;

  void Reset(int i) {
    messages[i].msg_hdr.msg_namelen = withSenders ? sizeof senders[i] : 0;
    messages[i].msg_hdr.msg_controllen = sizeof controls[i];
  }

  void Prepare(const DatagramSlot* forSlots, int forCount, int forCapacity,
               bool forSenders) {
    if (forSlots == slots && forCount == count && forCapacity == capacity &&
        forSenders == withSenders) {
      return;
    }
    slots = forSlots;
    count = forCount;
    capacity = forCapacity;
    withSenders = forSenders;
    for (int i = 0; i < count; ++i) {
      vectors[i] = {slots[i].data, static_cast<std::size_t>(capacity)};
      msghdr& header = messages[i].msg_hdr;
      header = msghdr{};
      header.msg_name = withSenders ? &senders[i] : nullptr;
      header.msg_iov = &vectors[i];
      header.msg_iovlen = 1;
      header.msg_control = controls[i];
      Reset(i);
    }
  }
};

BatchHeaders batch;

}  // namespace

int ReceiveBatch(SocketHandle socket, DatagramSlot* slots, int count,
                 int capacity, bool withSenders, int waitMs,
                 std::uint32_t* dropped) {
  const int fd = static_cast<int>(socket);
  count = std::min(count, kMaxBatch);
  if (waitMs > 0) {
    pollfd readable{fd, POLLIN, 0};
    const int ready = poll(&readable, 1, waitMs);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) return 0;
  }
  batch.Prepare(slots, count, capacity, withSenders);
  // MSG_WAITFORONE: block for the first datagram only, then take what is
  // queued. Without MSG_TRUNC a longer datagram is cut to `capacity`.
  const int flags = waitMs < 0 ? MSG_WAITFORONE : MSG_DONTWAIT;
  int received;
  do {
    received = recvmmsg(fd, batch.messages, static_cast<unsigned>(count), flags,
                        nullptr);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  for (int i = 0; i < received; ++i) {
    slots[i].size = static_cast<int>(batch.messages[i].msg_len);
    if (withSenders) slots[i].senderNetOrder = batch.senders[i].sin_addr.s_addr;
    msghdr& header = batch.messages[i].msg_hdr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
         c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
        std::memcpy(dropped, CMSG_DATA(c), sizeof *dropped);
      }
    }
    batch.Reset(i);
  }
  return received;
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

}  // namespace

bool DropPrivileges() {
  if (geteuid() != 0) return true;
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

// Linux counts per socket, with the datagrams.
bool ReadMachineDrops(std::uint32_t*) { return false; }

void WriteToConsole(std::span<const std::string> pieces) {
  constexpr std::size_t kMaxVectors = 64;
  iovec vectors[kMaxVectors];
  std::size_t next = 0;  // the first piece not yet written whole
  std::size_t done = 0;  // bytes of it already written
  while (next < pieces.size()) {
    std::size_t count = 0;
    for (std::size_t i = next; i < pieces.size() && count < kMaxVectors;
         ++i, ++count) {
      const std::size_t skip = i == next ? done : 0;
      vectors[count] = {const_cast<char*>(pieces[i].data()) + skip,
                        pieces[i].size() - skip};
    }
    const ssize_t written =
        writev(STDOUT_FILENO, vectors, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      // Standard output may have been left non-blocking by another program
      // sharing it: wait until it takes more.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd writable{STDOUT_FILENO, POLLOUT, 0};
        poll(&writable, 1, -1);
        continue;
      }
      return;  // gone: the records are in the log file
    }
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
}

void ReturnFreeMemory() { malloc_trim(0); }

void LowerThreadPriority() {
  // Linux keeps a nice value per thread: this lowers only the caller.
  const auto self = static_cast<id_t>(gettid());
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, self);
  if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(nice + 10, 19));
}

void Nap(std::chrono::microseconds length) {
  const auto ns = std::chrono::nanoseconds(length).count();
  const timespec nap{static_cast<time_t>(ns / 1000000000), ns % 1000000000};
  nanosleep(&nap, nullptr);
}

bool ToLocalTime(std::time_t time, std::tm* local) {
  return localtime_r(&time, local) != nullptr;
}

}  // namespace syslog_listen
