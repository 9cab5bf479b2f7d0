#include "cli/command_line.h"

#include <string_view>

#include "common/decimal.h"

namespace syslog_listen {

namespace {

CommandLine Failure(std::string_view programName, std::string message) {
  CommandLine result;
  result.output = std::move(message);
  AppendFilled(result.output, kErrorTail, programName);
  result.exitCode = kExitCommandLine;
  return result;
}

}  // namespace

std::string UsageText(std::string_view programName) {
  return Fill(kUsage, programName);
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  const std::string_view programName =
      argc > 0 && argv[0] != nullptr ? argv[0] : "";
  CommandLine result;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.empty() || arg[0] != '-') continue;  // free-standing words
    if (arg.size() != 2) {
      return Failure(programName, Fill(kInvalidOption, arg));
    }
    switch (arg[1]) {
      case 'h':
      case 'H':
        result.output = UsageText(programName);
        result.exitCode = kExitCommandLine;
        return result;
      case 'o':
      case 'O':
        // The value is consumed even when it looks like an option.
        if (i + 1 >= argc)
          return Failure(programName, std::string(kNoFileName));
        result.settings.outputFileName = argv[++i];
        break;
      case 'p':
      case 'P': {
        if (i + 1 >= argc) return Failure(programName, std::string(kNoPort));
        const std::string_view value = argv[++i];
        // Keep the low 16 bits, read as signed (modular since C++20).
        const auto port = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(ParseDecimal(value)));
        if (port == 0) {
          return Failure(programName, Fill(kInvalidPort, value));
        }
        result.settings.port = port;
        break;
      }
      case 't':
      case 'T':
        result.settings.annotate = true;
        break;
      default:
        return Failure(programName, Fill(kInvalidOption, arg));
    }
  }
  return result;
}

}  // namespace syslog_listen
