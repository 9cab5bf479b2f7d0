#include <cstdint>
#include <cstdio>

#include "support/harness.h"

namespace e2e {

std::string OnDisk(std::string_view text) {
  if (!WindowsServer()) return std::string(text);
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

int SignedPort(int port) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(port));
}

std::string Mismatch(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() &&
         expected[at] == actual[at]) {
    ++at;
  }
  const std::size_t from = at < 40 ? 0 : at - 40;
  auto excerpt = [&](const std::string& text) {
    std::string shown;
    for (char c : text.substr(from, 80)) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 32 && byte < 127 && c != '\\') {
        shown.push_back(c);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
      }
    }
    return shown;
  };
  return "expected " + std::to_string(expected.size()) + " bytes, got " +
         std::to_string(actual.size()) + "; first difference at byte " +
         std::to_string(at) + "\n  expected: ..." + excerpt(expected) +
         "\n  actual:   ..." + excerpt(actual);
}

namespace {

// True when `text` at `at` holds a time stamp: "Mon Jun 02 09:05:07 2025".
bool TimestampAt(const std::string& text, std::size_t at) {
  static constexpr std::string_view kDays = "SunMonTueWedThuFriSat";
  static constexpr std::string_view kMonths =
      "JanFebMarAprMayJunJulAugSepOctNovDec";
  static constexpr std::string_view kShape = "www mmm 00 00:00:00 0000";
  if (text.size() - at < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[at + i];
    const bool name = kShape[i] == 'w' || kShape[i] == 'm';  // checked below
    const bool ok =
        kShape[i] == '0' ? c >= '0' && c <= '9' : name || c == kShape[i];
    if (!ok) return false;
  }
  const auto day = kDays.find(text.substr(at, 3));
  const auto month = kMonths.find(text.substr(at + 4, 3));
  return day != std::string_view::npos && day % 3 == 0 &&
         month != std::string_view::npos && month % 3 == 0;
}

}  // namespace

std::string MaskTimestamps(const std::string& text) {
  std::string masked;
  for (std::size_t at = 0; at < text.size();) {
    if (TimestampAt(text, at)) {
      masked += "<time>";
      at += 24;
    } else {
      masked.push_back(text[at++]);
    }
  }
  return masked;
}

std::string MaskRunTime(std::string text) {
  constexpr std::string_view kHead = "stopped after ";
  for (auto at = text.find(kHead); at != std::string::npos;
       at = text.find(kHead, at)) {
    at += kHead.size();
    text.replace(at, text.find(';', at) - at, "<time>");
  }
  return text;
}

std::string Banner(int port) {
  return "syslog server(port:" + std::to_string(SignedPort(port)) +
         ") started on <time>\n";
}

std::size_t RealSize(const std::string& masked) {
  constexpr std::string_view kMask = "<time>";
  std::size_t size = masked.size();
  for (auto at = masked.find(kMask); at != std::string::npos;
       at = masked.find(kMask, at + 1)) {
    size += 24 - kMask.size();
  }
  return size;
}

std::string WithoutMachineLines(std::string text) {
  // The start-up line, where it is there whole.
  const std::size_t start = text.find("syslog-listen: listening on UDP port ");
  const std::size_t stop = text.find('\n', start);
  if (stop != std::string::npos) text.erase(start, stop + 1 - start);
  static constexpr std::string_view kLine =
      " dropped on this machine (all programs) while datagrams arrived here "
      "(receive queues full or other errors)";
  // Anywhere, not only between lines: wine may split a block of records
  // written to a pipe, and a report land whole between its parts.
  for (auto at = text.find(kLine); at != std::string::npos;
       at = text.find(kLine, at)) {
    at = text.rfind("syslog-listen: ", at);
    const std::size_t end = text.find('\n', at);
    text.erase(at, end == std::string::npos ? end : end + 1 - at);
  }
  // The same count in the account at the stop.
  static constexpr std::string_view kPart =
      " dropped on this machine (all programs) while datagrams arrived here";
  for (auto at = text.find(kPart); at != std::string::npos;
       at = text.find(kPart, at)) {
    const std::size_t from = text.rfind("; ", at);
    text.erase(from, at + kPart.size() - from);
    at = from;
  }
  return text;
}

std::string Numbered(char tag, int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%06d\n", tag, i);
  return text;
}

}  // namespace e2e
