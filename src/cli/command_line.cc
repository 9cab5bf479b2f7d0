#include "cli/command_line.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/decimal.h"

namespace syslog_listen {

namespace {

CommandLine Failure(std::string_view programName, std::string message,
                    std::vector<std::string> notes) {
  CommandLine result;
  result.notes = std::move(notes);
  result.output = std::move(message);
  AppendFilled(result.output, kErrorTail, programName);
  result.exitCode = kExitCommandLine;
  return result;
}

// The note for `word`, skipped as no option. A word of digits alone that
// names a port (1 to 65535, as -p would bind it) was likely meant as one.
std::string NoteOn(std::string_view word) {
  std::uint32_t value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return Fill(kNotAnOption, word);
    // Held at 65536 once past it: no port, and no overflow.
    value = std::min<std::uint32_t>(
        value * 10 + static_cast<std::uint32_t>(c - '0'), 65536);
  }
  if (value == 0 || value == 65536) return Fill(kNotAnOption, word);
  return Fill(kNotAnOptionPort, word, word);
}

}  // namespace

std::string UsageText(std::string_view programName) {
  return Fill(kUsage, programName);
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  const std::string_view programName =
      argc > 0 && argv[0] != nullptr ? argv[0] : "";
  CommandLine result;
  // The notes on words skipped so far stay with a failure.
  const auto fail = [&](std::string message) {
    return Failure(programName, std::move(message), std::move(result.notes));
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // A free-standing word is skipped, with a note; an empty one names
    // nothing to note.
    if (arg.empty()) continue;
    if (arg[0] != '-') {
      result.notes.push_back(NoteOn(arg));
      continue;
    }
    if (arg.size() != 2) {
      return fail(Fill(kInvalidOption, arg));
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
        if (i + 1 >= argc) return fail(std::string(kNoFileName));
        result.settings.outputFileName = argv[++i];
        break;
      case 'p':
      case 'P': {
        if (i + 1 >= argc) return fail(std::string(kNoPort));
        const std::string_view value = argv[++i];
        // Keep the low 16 bits, read as signed (modular since C++20).
        const auto port = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(ParseDecimal(value)));
        if (port == 0) {
          return fail(Fill(kInvalidPort, value));
        }
        result.settings.port = port;
        break;
      }
      case 't':
      case 'T':
        result.settings.annotate = true;
        break;
      default:
        return fail(Fill(kInvalidOption, arg));
    }
  }
  return result;
}

}  // namespace syslog_listen
