// POSIX side of the platform seam, the part that says why a start failed,
// and what a user needs for the hint when nothing arrives.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/shell_word.h"
#include "platform/addresses_posix.h"
#include "platform/platform.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

// How long the search for a port's holder may take: a machine may have
// thousands of processes, and the start has failed already.
constexpr auto kSearchLimit = std::chrono::seconds(1);

// The inodes of the UDP sockets bound to `port`, IPv4 and IPv6 (which may
// hold the IPv4 port too), from the kernel's tables.
std::vector<std::string> SocketInodes(std::uint16_t port) {
  char local[8];
  std::snprintf(local, sizeof local, ":%04X", port);
  std::vector<std::string> inodes;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      // sl local rem st queues timer retransmits uid timeout inode ...
      std::istringstream fields(line);
      std::string field[10];
      for (std::string& f : field) fields >> f;
      if (field[1].ends_with(local)) inodes.push_back(field[9]);
    }
  }
  return inodes;
}

// The process that has one of `inodes` open, as "name (process pid)"
// pieces; false when none that this user may look at does, or time ran
// out.
bool FindHolder(const std::vector<std::string>& inodes, std::string* name,
                std::string* pid) try {
  namespace fs = std::filesystem;
  const auto deadline = std::chrono::steady_clock::now() + kSearchLimit;
  std::error_code error;
  for (const auto& process : fs::directory_iterator("/proc", error)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    const std::string id = process.path().filename();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    for (const auto& fd :
         fs::directory_iterator(process.path() / "fd", error)) {
      const std::string target = fs::read_symlink(fd, error).string();
      for (const std::string& inode : inodes) {
        if (target != "socket:[" + inode + "]") continue;
        std::ifstream comm(process.path() / "comm");
        std::getline(comm, *name);
        *pid = id;
        return !name->empty();
      }
    }
  }
  return false;
} catch (const std::filesystem::filesystem_error&) {
  // A process that went while it was looked at, say.
  return false;
}

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length))
                    : "syslog-listen";
}

}  // namespace

int LastSystemError() { return errno; }

std::string WhyOpenFailed(const std::string& path, int error) {
  const std::string name = TerminalEscaped(path);
  switch (error) {
    case ENOENT: {
      const std::size_t slash = path.rfind('/');
      return Fill(kNoFolder, slash == std::string::npos ? "."
                             : slash == 0
                                 ? "/"
                                 : TerminalEscaped(path.substr(0, slash)));
    }
    case EACCES:
    case EPERM:
      return Fill(kNotPermitted, name);
    case EISDIR:
      return Fill(kIsFolder, name);
    case EROFS:
      return Fill(kReadOnly, name);
    default:
      return Fill(kOpenFailedBecause, name, std::strerror(error));
  }
}

std::string WhyBindFailed(std::uint16_t port, int error) {
  const std::string number = std::to_string(port);
  if (error == EACCES) return Fill(kPortPrivileged, ShellWord(SelfPath()));
  if (error != EADDRINUSE) {
    return Fill(kBindFailedBecause, number, std::strerror(error));
  }
  std::string name;
  std::string pid;
  if (FindHolder(SocketInodes(port), &name, &pid)) {
    // Any user may name a process, and take a port from 1024 up.
    return Fill(kPortInUse, number, TerminalEscaped(name), pid);
  }
  return Fill(kPortInUseUnseen, number, Fill(kShowPortHolderLinux, number));
}

std::optional<std::vector<std::string>> LocalAddresses() {
  auto addresses = InterfaceAddresses();
  if (addresses) {
    std::erase_if(*addresses, [](const std::string& address) {
      return address.starts_with("127.");
    });
  }
  return addresses;
}

// Linux has several firewalls, and none is the one.
std::string FirewallAdvice(std::uint16_t) { return ""; }

long GrantedReceiveQueue(SocketHandle socket) {
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &size,
                 &length) != 0) {
    return -1;
  }
  // The kernel reports twice what it grants, for its own bookkeeping.
  return size / 2;
}

}  // namespace syslog_listen
