#include "cli/command_line.h"

#include <algorithm>
#include <optional>
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

// True for a word that asks for help as Windows programs take it.
bool AsksForHelp(std::string_view word) {
  std::string lower;
  for (const char c : word) {
    lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a')
                                         : c);
  }
  return lower == "/?" || lower == "/h" || lower == "/help" || lower == "?" ||
         lower == "help";
}

constexpr std::string_view kDigits = "0123456789";

// The number that `digits`, decimal digits alone, name, held at 65536 once
// past it: no port, and no overflow.
std::uint32_t PortNumber(std::string_view digits) {
  std::uint32_t value = 0;
  for (const char c : digits) {
    value = std::min<std::uint32_t>(
        value * 10 + static_cast<std::uint32_t>(c - '0'), 65536);
  }
  return value;
}

// The note for `word`, skipped as no option. A word of digits alone that
// names a port (1 to 65535, as -p would bind it) was likely meant as one,
// unless the server listens there anyway (`listening`).
std::string NoteOn(std::string_view word,
                   std::optional<std::uint16_t> listening) {
  if (AsksForHelp(word)) return Fill(kNotAnOptionHelp, word);
  if (word.find_first_not_of(kDigits) != std::string_view::npos) {
    return Fill(kNotAnOption, word);
  }
  const std::uint32_t value = PortNumber(word);
  if (value == 0 || value == 65536 || value == listening) {
    return Fill(kNotAnOption, word);
  }
  return Fill(kNotAnOptionPort, word, word);
}

// The note on -p's `value` where it does not read as the port it gives,
// `port`: a number past 65535 or below 0, or one with text after it. A
// plain number from 1 to 65535 (white space, a '+' and zeros in front
// aside) gets none.
std::string NoteOnPort(std::string_view value, std::uint16_t port) {
  std::string_view rest = value.substr(
      std::min(value.find_first_not_of(" \t\n\v\f\r"), value.size()));
  const bool negative = rest.starts_with('-');
  if (negative || rest.starts_with('+')) rest.remove_prefix(1);
  const std::size_t end =
      std::min(rest.find_first_not_of(kDigits), rest.size());
  const std::uint32_t number = PortNumber(rest.substr(0, end));
  const std::string shown = std::to_string(port);
  if (number > 65535 || (negative && number != 0)) {
    return Fill(kPortWrapped, value, shown);
  }
  return end < rest.size() ? Fill(kPortTakenAs, value, shown) : "";
}

}  // namespace

std::string UsageText(std::string_view programName) {
  return Fill(kUsage, programName);
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  const std::string_view programName =
      argc > 0 && argv[0] != nullptr ? argv[0] : "";
  CommandLine result;
  // Noted once the scan has ended: a word's note depends on the port the
  // server will listen on, which a later -p may set.
  std::vector<std::string_view> skipped;
  std::optional<std::string_view> portValue;
  // Where the scan ends without a server, it listens nowhere.
  const auto noteSkipped = [&](std::optional<std::uint16_t> listening) {
    for (const std::string_view word : skipped) {
      result.notes.push_back(NoteOn(word, listening));
    }
  };
  const auto fail = [&](std::string message) {
    noteSkipped(std::nullopt);
    return Failure(programName, std::move(message), std::move(result.notes));
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // A free-standing word is skipped, with a note; an empty one names
    // nothing to note.
    if (arg.empty()) continue;
    if (arg[0] != '-') {
      skipped.push_back(arg);
      continue;
    }
    if (arg.size() != 2) {
      return fail(Fill(kInvalidOption, arg));
    }
    switch (arg[1]) {
      case 'h':
      case 'H':
        noteSkipped(std::nullopt);
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
        portValue = value;
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
  const auto listening = static_cast<std::uint16_t>(result.settings.port);
  noteSkipped(listening);
  if (portValue) {
    std::string note = NoteOnPort(*portValue, listening);
    if (!note.empty()) result.notes.push_back(std::move(note));
  }
  return result;
}

}  // namespace syslog_listen
