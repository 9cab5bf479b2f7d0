// Windows side of the platform seam, the part that says why a start failed,
// and what a user needs for the hint when nothing arrives.
// winsock2.h must precede windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "common/messages.h"
#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/win32_text.h"
#include "records/record.h"

namespace syslog_listen {

namespace {

using win32::Utf8;
using win32::Wide;

// The system's words for `error`, without the line end it brings.
std::string SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words(text != nullptr ? text : L"", length);
  LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  return words.empty() ? "error " + std::to_string(error) : Utf8(words);
}

// The process that holds UDP `port` on IPv4, from the system's table of
// sockets and their owners; 0 when none is listed.
DWORD PortOwner(std::uint16_t port) {
  ULONG size = 0;
  GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
  std::unique_ptr<char[]> buffer;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the two calls.
  for (int tries = 0; tries < 3 && result == ERROR_INSUFFICIENT_BUFFER;
       ++tries) {
    buffer = std::make_unique<char[]>(size);
    result = GetExtendedUdpTable(buffer.get(), &size, FALSE, AF_INET,
                                 UDP_TABLE_OWNER_PID, 0);
  }
  if (result != NO_ERROR) return 0;
  const auto* table =
      reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.get());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
      return table->table[i].dwOwningPid;
    }
  }
  return 0;
}

// The executable's name of process `pid`, or "" where this user may not
// see it.
std::string ProcessName(DWORD pid) {
  for (const win32::ProcessEntry& entry : win32::ListProcesses()) {
    if (entry.id == pid) return Utf8(entry.executable);
  }
  return "";
}

}  // namespace

int LastSystemError() { return static_cast<int>(GetLastError()); }

// Names, and the system's words, are not ours: shown escaped, they cannot
// drive the terminal that shows the line.
std::string WhyOpenFailed(const std::string& name, int error) {
  const std::string shown = TerminalEscaped(name);
  switch (error) {
    case ERROR_PATH_NOT_FOUND: {
      const std::size_t slash = name.find_last_of("\\/");
      return Fill(kNoFolder, slash == std::string::npos
                                 ? "."
                                 : TerminalEscaped(
                                       name.substr(0, slash == 0 ? 1 : slash)));
    }
    case ERROR_ACCESS_DENIED: {
      const DWORD attributes = GetFileAttributesW(Wide(name).c_str());
      return attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? Fill(kIsFolder, shown)
                 : Fill(kNotPermitted, shown);
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Fill(kFileLocked, shown);
    case ERROR_WRITE_PROTECT:
      return Fill(kReadOnly, shown);
    default:
      return Fill(kOpenFailedBecause, shown,
                  TerminalEscaped(SystemText(static_cast<DWORD>(error))));
  }
}

std::string WhyBindFailed(std::uint16_t port, int error) {
  const std::string number = std::to_string(port);
  // Exclusive use by another socket, or a port range the system reserves
  // (Hyper-V and WSL take ranges of their own).
  if (error == WSAEACCES) return Fill(kPortReserved, number);
  if (error != WSAEADDRINUSE) {
    return Fill(kBindFailedBecause, number,
                TerminalEscaped(SystemText(static_cast<DWORD>(error))));
  }
  const DWORD pid = PortOwner(port);
  const std::string name = pid != 0 ? ProcessName(pid) : "";
  // Any user may name a program that holds a port.
  if (!name.empty()) {
    return Fill(kPortInUse, number, TerminalEscaped(name), std::to_string(pid));
  }
  return Fill(kPortInUseUnseen, number, kShowPortHolderWindows);
}

std::optional<std::vector<std::string>> LocalAddresses() {
  std::vector<std::string> addresses;
  ULONG size = 16 * 1024;
  std::unique_ptr<char[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer = std::make_unique<char[]>(size);
    result = GetAdaptersAddresses(
        AF_INET,
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
            GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  // No adapter is none; any other failure says nothing of the addresses.
  if (result == ERROR_NO_DATA) return addresses;
  if (result != NO_ERROR) return std::nullopt;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
       adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const auto* address =
          reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr);
      if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) continue;
      char text[INET_ADDRSTRLEN];
      if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) {
        addresses.emplace_back(text);
      }
    }
  }
  return addresses;
}

std::string FirewallAdvice(std::uint16_t port) {
  const std::string number = std::to_string(port);
  return Fill(kFirewallCommand, number, number);
}

long GrantedReceiveQueue(SocketHandle socket) {
  int size = 0;
  int length = sizeof size;
  if (getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_RCVBUF,
                 reinterpret_cast<char*>(&size), &length) != 0) {
    return -1;
  }
  return size;
}

}  // namespace syslog_listen
