// A scripted platform seam: each operation succeeds or fails as the test
// says, and every call is recorded in order.
#ifndef SYSLOG_LISTEN_TESTS_PLATFORM_FAKE_PLATFORM_H_
#define SYSLOG_LISTEN_TESTS_PLATFORM_FAKE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace syslog_listen::fake {

struct Script {
  bool openLog = true;
  bool startSockets = true;
  bool openSocket = true;
  bool bind = true;
  bool stop = false;  // set by the first receive that brings nothing
  // Where set, the system counts drops for the whole machine: this many.
  std::optional<std::uint32_t> machineDrops{};
  long grantedQueue = -1;  // the receive queue granted; -1: cannot tell
  // Datagrams the first receive brings once its wait is over, the machine
  // having dropped 5 more meanwhile and the disk become full; then the
  // next receive ends the run.
  int firstBatch = 0;
  bool diskFull = false;
  // Where set, the console takes this many bytes, then stalls.
  std::optional<std::size_t> consoleTakes{};
  // Standard output and error are terminals (no colours, no title); one.
  bool terminal = false;
  bool shared = false;
  // Filled by the fake: "open <name>", "start", "socket", "bind <port>".
  std::vector<std::string> calls{};
};

// Reset by each test.
extern Script script;

}  // namespace syslog_listen::fake

#endif  // SYSLOG_LISTEN_TESTS_PLATFORM_FAKE_PLATFORM_H_
