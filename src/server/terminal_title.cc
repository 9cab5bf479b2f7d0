#include "server/terminal_title.h"

#include "platform/platform.h"

namespace syslog_listen {

namespace {

// Between two tries at the end.
constexpr auto kRetry = std::chrono::milliseconds(1);

// Tries `attempt` until it succeeds or `deadline` has passed.
template <typename Attempt>
bool TryUntil(TerminalTitle::Clock::time_point deadline, Attempt attempt) {
  while (!attempt()) {
    if (TerminalTitle::Clock::now() >= deadline) return false;
    Nap(kRetry);
  }
  return true;
}

}  // namespace

void TerminalTitle::Figures(const TitleFigures& figures) {
  std::lock_guard lock(figuresMutex_);
  figures_ = figures;
}

void TerminalTitle::Show(Clock::time_point now) {
  TitleFigures figures;
  {
    std::lock_guard lock(figuresMutex_);
    figures = figures_;
  }
  std::lock_guard title(titleMutex_);
  if (ended_ || shown_ == figures) return;
  SetTitle(TitleText(figures));
  shown_ = figures;
  next_ = now + kInterval;
}

void TerminalTitle::End(Clock::time_point deadline) {
  // The writer may be inside a write the terminal never finishes: then it
  // can set no title either, and the user's goes back all the same.
  std::unique_lock title(titleMutex_, std::defer_lock);
  if (TryUntil(deadline, [&] { return title.try_lock(); })) ended_ = true;
  // The terminal takes a slice's write whole, so the title goes back
  // between two; one that stays stalled keeps ours.
  TryUntil(deadline, RestoreTitle);
}

}  // namespace syslog_listen
