#include "common/timestamp.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace syslog_listen {
namespace {

std::tm Time(int year, int month, int day, int hour, int minute, int second,
             int weekday) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_wday = weekday;
  return t;
}

std::string Format(const std::tm& t) {
  char out[kTimestampLength];
  FormatTimestamp(t, out);
  return std::string(out, kTimestampLength);
}

TEST(FormatTimestamp, FixedWidthFields) {
  EXPECT_EQ("Mon Jun 02 09:05:07 2025", Format(Time(2025, 6, 2, 9, 5, 7, 1)));
  EXPECT_EQ("Sun Jan 01 00:00:00 1970", Format(Time(1970, 1, 1, 0, 0, 0, 0)));
  EXPECT_EQ("Sat Dec 31 23:59:60 2016",
            Format(Time(2016, 12, 31, 23, 59, 60, 6)));
  EXPECT_EQ("Wed Mar 15 12:00:00 0999", Format(Time(999, 3, 15, 12, 0, 0, 3)));
  EXPECT_EQ("Fri Dec 31 23:59:59 9999",
            Format(Time(9999, 12, 31, 23, 59, 59, 5)));
}

TEST(FormatTimestamp, UnrenderableFieldsGiveTheUnknownText) {
  std::tm cases[] = {
      Time(10000, 1, 1, 0, 0, 0, 6), Time(-1, 1, 1, 0, 0, 0, 6),
      Time(2025, 13, 1, 0, 0, 0, 0), Time(2025, 1, 0, 0, 0, 0, 0),
      Time(2025, 1, 1, 24, 0, 0, 0), Time(2025, 1, 1, 0, 0, 0, 7),
      Time(2025, 1, 1, 0, -1, 0, 0)};
  for (const std::tm& t : cases) {
    EXPECT_EQ(kUnknownTimestamp, Format(t)) << t.tm_year << "/" << t.tm_mon;
  }
  std::tm huge = Time(2025, 1, 1, 0, 0, 0, 0);
  huge.tm_year = INT_MAX;
  EXPECT_EQ(kUnknownTimestamp, Format(huge));
  EXPECT_EQ(kTimestampLength, kUnknownTimestamp.size());
}

}  // namespace
}  // namespace syslog_listen
