// The terminal's title while the server runs: the figures the receive path
// gives, shown by the console's writer at most once a second when one has
// changed, and the terminal's own title given back at the end.
#ifndef SYSLOG_LISTEN_SERVER_TERMINAL_TITLE_H_
#define SYSLOG_LISTEN_SERVER_TERMINAL_TITLE_H_

#include <chrono>
#include <mutex>
#include <optional>

#include "server/run_report.h"

namespace syslog_listen {

class TerminalTitle {
 public:
  using Clock = std::chrono::steady_clock;
  // The title changes at most this often.
  static constexpr auto kInterval = std::chrono::seconds(1);

  // Receive side: the latest figures. Waits for nothing but their copy.
  void Figures(const TitleFigures& figures);

  // Writer side: true once kInterval has passed since the title was last
  // set.
  bool Due(Clock::time_point now) const { return now >= next_; }
  // Writer side, holding whatever keeps other writes off the terminal: sets
  // the title, unless the figures are those shown or End has come.
  void Show(Clock::time_point now);

  // From now on no title is set, once a Show under way has finished, if it
  // does by `deadline`; then gives the terminal its own title back, if it
  // takes it by then. Nothing here waits past `deadline`.
  void End(Clock::time_point deadline);

 private:
  // The figures as the receive path last gave them...
  std::mutex figuresMutex_;
  TitleFigures figures_;
  // ... and as the writer last showed them. Held while the title is
  // written; the end waits for it until its deadline only.
  std::mutex titleMutex_;
  std::optional<TitleFigures> shown_;
  Clock::time_point next_{};  // the writer's own
  bool ended_ = false;
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_TERMINAL_TITLE_H_
