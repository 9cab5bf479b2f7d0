// The time stamp text: "Www Mmm DD HH:MM:SS YYYY", always 24 characters,
// English names whatever the locale, the day padded with a zero.
#ifndef SYSLOG_LISTEN_COMMON_TIMESTAMP_H_
#define SYSLOG_LISTEN_COMMON_TIMESTAMP_H_

#include <cstddef>
#include <ctime>
#include <string_view>

namespace syslog_listen {

inline constexpr std::size_t kTimestampLength = 24;

// Time stamp text shown for a moment that cannot be rendered: the clock could
// not be converted, or a field (the year above all) does not fit its width.
inline constexpr std::string_view kUnknownTimestamp =
    "??? ??? ?? ??:??:?? ????";

// Writes exactly kTimestampLength characters (no terminator, no line feed)
// for a broken-down local time. Out-of-range fields give kUnknownTimestamp.
void FormatTimestamp(const std::tm& time, char (&out)[kTimestampLength]);

// True when `text`, up to kTimestampLength characters of it, could be the
// start of a time stamp text as FormatTimestamp writes it (kUnknownTimestamp
// included): a whole one when `text` is that long or longer. For reading a
// log file back.
bool CouldBeTimestamp(std::string_view text);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_TIMESTAMP_H_
