// Fuzzes the argument scan with random argument lists: the input split at
// NUL bytes, the first piece as the program name.
//
// Property: the scan ends with exactly one of settings (no output), the
// usage text, or one error message followed by the error tail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "common/messages.h"

namespace {

using namespace syslog_listen;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsArgument(const std::vector<std::string>& args, std::string_view text) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == text) return true;
  }
  return false;
}

// True when `message` is one error message: a fixed one, or one that
// quotes a whole argument.
bool IsOneError(const std::vector<std::string>& args,
                std::string_view message) {
  if (message == kNoFileName || message == kNoPort) return true;
  if (message.empty() || message.back() != '\n') return false;
  message.remove_suffix(1);
  for (std::string_view head :
       {kInvalidOption.piece(0), kInvalidPort.piece(0)}) {
    if (message.substr(0, head.size()) == head &&
        IsArgument(args, message.substr(head.size()))) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const CommandLine result =
      ParseCommandLine(static_cast<int>(argv.size()), argv.data());

  if (result.exitCode == CommandLine::kRun) {
    Require(result.output.empty());
    Require(result.settings.port != 0);
    return 0;
  }
  Require(result.exitCode == kExitCommandLine);
  if (result.output == UsageText(args[0])) return 0;
  const std::string tail = Fill(kErrorTail, args[0]);
  const std::string_view output = result.output;
  Require(output.size() > tail.size());
  Require(output.substr(output.size() - tail.size()) == tail);
  Require(IsOneError(args, output.substr(0, output.size() - tail.size())));
  return 0;
}
