// The server: start-up steps, then the datagram loop, until the process is
// ended from outside.
#ifndef SYSLOG_LISTEN_SERVER_SERVER_H_
#define SYSLOG_LISTEN_SERVER_SERVER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "platform/platform.h"

namespace syslog_listen {

// Prints `text` to standard output, flushes every stream, reports the line
// `why` makes, if any, and ends the process with `code`.
[[noreturn]] void ExitWith(int code, std::string_view text,
                           const std::function<std::string()>& why = {});

// True when the end with `exitCode` should wait for a key: after a failure
// (or the usage text), on a console that was made for the process alone
// and closes with it, as for a program started from Explorer, before the
// user could read why. Never for a console shared (a prompt, a script),
// for output or input elsewhere (a pipe), or without one (a service).
bool WaitsForKeyAtEnd(int exitCode, const ConsoleOwners& console);

// outputFileName, or "syslog.<signed port>.log" when it is empty.
std::string LogFileName(const Settings& settings);

// The banner line for a start at `timestamp` (24 characters), with its line
// feed.
std::string BannerText(std::int16_t port, std::string_view timestamp);

// What start-up produced: the log file's name and the open file, the port
// and the bound socket, or the message and exit code of the step that
// failed.
struct Startup {
  std::string logName;
  std::string logPath;  // the log file's full path, for the user
  std::FILE* log = nullptr;
  std::uint16_t port = 0;  // the signed port's 16 bits
  SocketHandle socket = -1;
  std::string failure;  // empty when every step succeeded
  int exitCode = 0;
  // Says why the step failed, for the user, once `failure` is out.
  std::function<std::string()> why;
  bool started() const { return failure.empty(); }
};

// Chooses the log file's name and opens the file, then starts the socket
// interface, creates the socket and binds it, in that order, stopping at the
// first step that fails. The file comes first, so a failure on the network
// side still leaves it in place.
Startup StartServer(const Settings& settings);

// Starts the server, writes the banner and records every datagram. Returns
// only by ending the process, on a start-up failure.
[[noreturn]] void RunServer(const Settings& settings);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_SERVER_H_
