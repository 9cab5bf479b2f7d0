// The only header that knows platforms differ: process set-up, the log file,
// the local clock and the UDP socket. Exactly one platform_*.cc is built.
#ifndef SYSLOG_LISTEN_LISTENER_PLATFORM_H_
#define SYSLOG_LISTEN_LISTENER_PLATFORM_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace syslog_listen {

// A file descriptor or a SOCKET; the invalid value reads as negative.
using SocketHandle = std::intptr_t;

// Run first. Makes sure standard input, output and error are open (on the
// null device if need be), so that the log file or the socket cannot take
// their places, and makes writes to a pipe without reader fail instead of
// ending the process.
void PrepareProcess();

// Opens the log file write-only for appending, in text mode, creating it
// (mode 0644 where there are such bits) if needed; no lock. nullptr on
// failure.
std::FILE* OpenLogFile(const std::string& name);

// Starts the socket interface; false on failure.
bool StartSockets();

// A blocking IPv4 UDP socket; negative on failure.
SocketHandle OpenUdpSocket();

// Binds to every local IPv4 address and the given port; false on failure.
bool BindAnyIPv4(SocketHandle socket, std::uint16_t port);

// Waits for one datagram and copies at most `capacity` bytes of it to
// `buffer`; a longer datagram is cut to `capacity` bytes. Returns the number
// of bytes copied and the sender's IPv4 address (network byte order), or -1
// on failure.
int ReceiveDatagram(SocketHandle socket, char* buffer, int capacity,
                    std::uint32_t* senderNetOrder);

// Converts to the machine's local time; false if it cannot.
bool ToLocalTime(std::time_t time, std::tm* local);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_PLATFORM_H_
