// Waits as the receive takes them: whole milliseconds, -1 (kNever, or any
// negative) for a wait without end.
#ifndef SYSLOG_LISTEN_COMMON_DEADLINE_H_
#define SYSLOG_LISTEN_COMMON_DEADLINE_H_

#include <algorithm>
#include <chrono>

namespace syslog_listen {

inline constexpr int kNever = -1;

// The sooner of two waits.
inline int Sooner(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

// Milliseconds from `now` until `due`, rounded up; 0 once it has come.
inline int MillisecondsUntil(std::chrono::steady_clock::time_point due,
                             std::chrono::steady_clock::time_point now) {
  if (now >= due) return 0;
  return static_cast<int>(
      std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_DEADLINE_H_
