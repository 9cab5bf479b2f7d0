// The only header that knows platforms differ: process set-up, the log file,
// the local clock and the UDP socket. Exactly one platform_*.cc is built.
#ifndef SYSLOG_LISTEN_LISTENER_PLATFORM_H_
#define SYSLOG_LISTEN_LISTENER_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <string>

namespace syslog_listen {

// A file descriptor or a SOCKET; the invalid value reads as negative.
using SocketHandle = std::intptr_t;

// The receive queue asked for: a burst of tens of thousands of small
// datagrams fits while the server writes.
inline constexpr int kReceiveQueueBytes = 8 * 1024 * 1024;

// Run first. Makes sure standard input, output and error are open (on the
// null device if need be), so that the log file or the socket cannot take
// their places, and makes writes to a pipe without reader fail instead of
// ending the process.
void PrepareProcess();

// True when `stream` writes to the null device, where writing is wasted.
bool IsNullDevice(std::FILE* stream);

// True when `stream` is a terminal (a tty, or a Windows console), which acts
// on control characters instead of showing them.
bool IsTerminal(std::FILE* stream);

// Opens the log file write-only for appending, in text mode, creating it
// (mode 0644 where there are such bits) if needed; no lock. nullptr on
// failure.
std::FILE* OpenLogFile(const std::string& name);

// True when `name` names the file that `file` has open; false when the name
// is gone, cannot be looked at, or names another file (or `file` is
// nullptr).
bool NamesOpenFile(const std::string& name, std::FILE* file);

// True where `file` has been deleted but keeps its name taken until it is
// closed (Windows: pending deletion), so that no new file of that name can
// be created meanwhile.
bool DeletePending(std::FILE* file);

// Starts the socket interface; false on failure.
bool StartSockets();

// A blocking IPv4 UDP socket with a receive queue as large as the system
// grants, up to kReceiveQueueBytes; negative on failure.
SocketHandle OpenUdpSocket();

// Binds to every local IPv4 address and the given port; false on failure.
bool BindAnyIPv4(SocketHandle socket, std::uint16_t port);

// One datagram of a batch. The caller points `data` at `capacity` bytes.
struct DatagramSlot {
  char* data = nullptr;
  int size = 0;  // bytes received; a longer datagram is cut to capacity
  std::uint32_t senderNetOrder = 0;
};

// Receives up to `count` datagrams into `slots`. `waitMs` says how long to
// wait for the first one: -1 as long as it takes, 0 not at all, else at
// most that many milliseconds; the rest of the batch is only what is queued
// already. Senders' addresses are filled in only when `withSenders` is set:
// asking for them costs the system time per datagram. Returns how many were
// received (0 when none came in time), or -1 on failure. Where the system
// counts the datagrams it dropped for the socket because its queue was
// full, `*dropped` is set to that count since the socket was opened;
// elsewhere it is left alone.
int ReceiveBatch(SocketHandle socket, DatagramSlot* slots, int count,
                 int capacity, bool withSenders, int waitMs,
                 std::uint32_t* dropped);

// Where the system counts dropped datagrams only for the whole machine
// (Windows: UDP datagrams received that could not be delivered, full
// receive queues among them), sets `*count` to that count and returns true.
// False where the count comes per socket with the datagrams instead (see
// ReceiveBatch), or cannot be read.
bool ReadMachineDrops(std::uint32_t* count);

// Writes `pieces` to standard output, in order, in one system call where the
// system can gather them, so that a line written to standard error
// meanwhile cannot land inside them. Waits for as long as the console does
// not take them; gives up on a console that has gone.
void WriteToConsole(std::span<const std::string> pieces);

// Hands memory that has been freed back to the system, where the allocator
// keeps it otherwise.
void ReturnFreeMemory();

// Lowers the calling thread's priority below that of the process's other
// threads.
void LowerThreadPriority();

// Sleeps for `length`, a millisecond or less: long enough for work to
// gather (datagrams at a high rate, records for the console), short enough
// not to be noticed. Does nothing where the system cannot sleep that
// briefly.
void Nap(std::chrono::microseconds length);

// When running as root, switches to an unprivileged user and group, with no
// supplementary groups, so that no fault in the receive path runs as root.
// Open files and sockets stay usable. True when done or not needed; false
// when the switch could not be made and the process keeps its privileges.
bool DropPrivileges();

// Converts to the machine's local time; false if it cannot.
bool ToLocalTime(std::time_t time, std::tm* local);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_LISTENER_PLATFORM_H_
