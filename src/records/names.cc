#include "records/names.h"

#include <array>
#include <cstddef>

namespace syslog_listen {

namespace {

// The two tables are separate: "alert" and "info" stand in both with
// different meanings.
constexpr std::array<std::string_view, 24> kFacilities = {
    "kernel",   "user level", "mail system", "sysd",    "security",  "internal",
    "printer",  "news",       "uucp",        "clockd",  "security2", "ftpd",
    "ntp",      "audit",      "alert",       "clockd2", "info",      "debug L1",
    "debug L2", "debug L3",   "p1",          "p2",      "p3",        "p4"};

constexpr std::array<std::string_view, 8> kSeverities = {
    "emergency", "alert",  "critical", "error",
    "warning",   "notice", "info",     "debug"};

template <std::size_t N>
std::string_view Lookup(const std::array<std::string_view, N>& table,
                        int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= N) return kUnknownName;
  return table[static_cast<std::size_t>(index)];
}

}  // namespace

std::string_view FacilityName(int index) { return Lookup(kFacilities, index); }

std::string_view SeverityName(int index) { return Lookup(kSeverities, index); }

}  // namespace syslog_listen
