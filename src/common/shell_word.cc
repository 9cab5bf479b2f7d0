#include "common/shell_word.h"

#include <algorithm>

namespace syslog_listen {

namespace {

bool Plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') ||
         std::string_view("/._-+:,@").find(c) != std::string_view::npos;
}

}  // namespace

std::string ShellWord(std::string_view text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), Plain)) {
    return std::string(text);
  }
  std::string word = "'";
  for (const char c : text) {
    // A single quote cannot stand inside single quotes: close, escape, open.
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  word += '\'';
  return word;
}

}  // namespace syslog_listen
