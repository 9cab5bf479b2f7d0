#include "platform/account.h"

#include <array>
#include <cstddef>

namespace syslog_listen {

namespace {

std::optional<std::uint32_t> ParseId(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// The first four colon-separated fields of `line`; false if it has fewer.
bool SplitFields(std::string_view line, std::array<std::string_view, 4>& out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      if (i + 1 != out.size()) return false;
      out[i] = line;
      return true;
    }
    out[i] = line.substr(0, colon);
    line.remove_prefix(colon + 1);
  }
  return true;
}

}  // namespace

std::optional<Account> FindAccount(std::string_view passwd,
                                   std::string_view name) {
  while (!passwd.empty()) {
    const auto end = passwd.find('\n');
    const std::string_view line = passwd.substr(0, end);
    passwd.remove_prefix(end == std::string_view::npos ? passwd.size()
                                                       : end + 1);
    std::array<std::string_view, 4> fields;
    if (!SplitFields(line, fields) || fields[0] != name) continue;
    const auto uid = ParseId(fields[2]);
    const auto gid = ParseId(fields[3]);
    if (uid && gid) return Account{*uid, *gid};
  }
  return std::nullopt;
}

}  // namespace syslog_listen
