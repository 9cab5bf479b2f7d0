#include "listener/fake_platform.h"

#include "listener/platform.h"

namespace syslog_listen {

namespace fake {
Script script;
}  // namespace fake

using fake::script;

void PrepareProcess() {}

bool IsNullDevice(std::FILE*) { return false; }

bool IsTerminal(std::FILE*) { return false; }

std::FILE* OpenLogFile(const std::string& name) {
  script.calls.push_back("open " + name);
  // Any open stream will do: the tests only look at what start-up returns.
  return script.openLog ? stdout : nullptr;
}

bool NamesOpenFile(const std::string&, std::FILE*) { return true; }

bool DeletePending(std::FILE*) { return false; }

bool StartSockets() {
  script.calls.push_back("start");
  return script.startSockets;
}

SocketHandle OpenUdpSocket() {
  script.calls.push_back("socket");
  return script.openSocket ? 7 : -1;
}

bool BindAnyIPv4(SocketHandle, std::uint16_t port) {
  script.calls.push_back("bind " + std::to_string(port));
  return script.bind;
}

int ReceiveBatch(SocketHandle, DatagramSlot*, int, int, bool, int,
                 std::uint32_t*) {
  return -1;
}

bool ReadMachineDrops(std::uint32_t*) { return false; }

void WriteToConsole(std::span<const std::string>) {}

void ReturnFreeMemory() {}

void LowerThreadPriority() {}

void Nap(std::chrono::microseconds) {}

bool DropPrivileges() { return true; }

bool ToLocalTime(std::time_t, std::tm*) { return false; }

}  // namespace syslog_listen
