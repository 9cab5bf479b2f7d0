#include "common/timestamp.h"

#include <algorithm>
#include <iterator>

namespace syslog_listen {

namespace {

constexpr char kWeekdays[7][4] = {"Sun", "Mon", "Tue", "Wed",
                                  "Thu", "Fri", "Sat"};
constexpr char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool InRange(int value, int low, int high) {
  return value >= low && value <= high;
}

// Writes value as exactly `width` digits, zero-padded; value fits by contract.
char* PutDigits(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

char* PutName(char* out, const char (&name)[4]) {
  return std::copy(name, name + 3, out);
}

// True when `part` (up to 3 characters) begins one of `names`.
template <std::size_t N>
bool BeginsName(const char (&names)[N][4], std::string_view part) {
  return std::any_of(std::begin(names), std::end(names), [&](const auto& name) {
    return std::string_view(name, 3).starts_with(part);
  });
}

}  // namespace

void FormatTimestamp(const std::tm& time, char (&out)[kTimestampLength]) {
  // tm_year counts from 1900; compare without adding to stay clear of
  // overflow near INT_MAX.
  const bool renderable =
      InRange(time.tm_wday, 0, 6) && InRange(time.tm_mon, 0, 11) &&
      InRange(time.tm_mday, 1, 31) && InRange(time.tm_hour, 0, 23) &&
      InRange(time.tm_min, 0, 59) && InRange(time.tm_sec, 0, 60) &&
      InRange(time.tm_year, -1900, 9999 - 1900);
  if (!renderable) {
    std::copy(kUnknownTimestamp.begin(), kUnknownTimestamp.end(), out);
    return;
  }
  // Mon Jun 02 09:05:07 2025
  // 012345678901234567890123
  char* p = PutName(out, kWeekdays[time.tm_wday]);
  *p++ = ' ';
  p = PutName(p, kMonths[time.tm_mon]);
  *p++ = ' ';
  p = PutDigits(p, time.tm_mday, 2);
  *p++ = ' ';
  p = PutDigits(p, time.tm_hour, 2);
  *p++ = ':';
  p = PutDigits(p, time.tm_min, 2);
  *p++ = ':';
  p = PutDigits(p, time.tm_sec, 2);
  *p++ = ' ';
  PutDigits(p, time.tm_year + 1900, 4);
}

bool CouldBeTimestamp(std::string_view text) {
  text = text.substr(0, kTimestampLength);
  if (kUnknownTimestamp.starts_with(text)) return true;
  // Names (n), digits (d) and the separators between them.
  constexpr std::string_view kShape = "nnn nnn dd dd:dd:dd dddd";
  if (!BeginsName(kWeekdays, text.substr(0, 3)) ||
      (text.size() > 4 && !BeginsName(kMonths, text.substr(4, 3)))) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kShape[i] == 'd' ? c < '0' || c > '9'
                         : kShape[i] != 'n' && c != kShape[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace syslog_listen
