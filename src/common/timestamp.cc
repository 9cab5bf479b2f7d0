#include "common/timestamp.h"

#include <algorithm>

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

}  // namespace syslog_listen
