#include "view/view.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string_view>
#include <utility>

#include "common/counts.h"
#include "common/messages.h"
#include "records/record.h"
#include "view/follower.h"
#include "view/presenter.h"
#include "view/record_splitter.h"

namespace syslog_listen {

namespace {

using namespace std::chrono_literals;

// Between two looks at the file, and after one that found it growing: the
// last record is shown at the first look that finds no growth, within half
// a second of its writing.
constexpr auto kBetweenLooks = 250ms;
constexpr auto kAfterGrowth = 100ms;
// How long the terminal may take to give the user's title back at the end.
constexpr auto kRestoreLimit = 500ms;

Output ConsoleForm() {
  if (!IsTerminal(stdout)) return Output::kConsole;
  return ColoursWanted() && TerminalColours() ? Output::kColourTerminal
                                              : Output::kTerminal;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == path.npos ? path : path.substr(slash + 1);
}

// The console's side: writes what the presenter made, the follower's
// notes and the title.
class Viewer {
 public:
  explicit Viewer(const std::string& name)
      : name_(TerminalEscaped(name)),
        title_(TerminalEscaped(BaseName(name))),
        presenter_(ConsoleForm(), [this](FollowNote note) { Say(note); }),
        // A report is to start a line of its own where it shares the
        // screen with the records.
        shared_(OutputsShareStream() ||
                (IsTerminal(stdout) && IsTerminal(stderr))),
        titled_(IsTerminal(stdout) && TitleSettable()) {}

  Presenter& presenter() { return presenter_; }
  bool gone() const { return gone_; }

  // Writes what was made, then the title, if its count has changed.
  void WriteOut() {
    std::string& text = presenter_.text();
    if (!text.empty()) {
      const std::string_view pieces[] = {text};
      // A reader that has gone (the end of a pipe) has seen enough.
      if (WriteToConsole(pieces) < text.size()) gone_ = true;
      text.clear();
    } else if (ConsoleGone()) {
      gone_ = true;
    }
    if (titled_ && shownCount_ != presenter_.records()) {
      shownCount_ = presenter_.records();
      SetTitle(Fill(kViewTitle, Counted(*shownCount_, kRecordNoun), title_));
    }
  }

  // Leaves the console as it was found: the last line ended, the title
  // given back. Asked to stop, ends as the request would have ended it;
  // otherwise (standard output gone) normally.
  [[noreturn]] void End() {
    // A record held for the file to stop growing is shown all the same.
    presenter_.Idle();
    presenter_.EndLine();
    if (!gone_) WriteOut();
    const auto deadline = std::chrono::steady_clock::now() + kRestoreLimit;
    while (titled_ && !RestoreTitle() &&
           std::chrono::steady_clock::now() < deadline) {
      PauseUnlessStopped(1ms);
    }
    if (!StopRequested()) EndProcess(0, "");
    EndAfterStop();
  }

 private:
  void Say(FollowNote note) {
    if (shared_) presenter_.EndLine();
    WriteOut();
    switch (note) {
      case FollowNote::kMissing:
        return WriteText(stderr, Fill(kViewMissing, name_));
      case FollowNote::kRefused:
        return WriteText(stderr, Fill(kViewRefused, name_));
      case FollowNote::kGone:
        return WriteText(stderr, Fill(kViewGone, name_));
    }
  }

  const std::string name_;   // escaped, for our lines
  const std::string title_;  // the file's, escaped
  Presenter presenter_;
  const bool shared_;
  const bool titled_;
  std::optional<std::uint64_t> shownCount_;  // in the title
  bool gone_ = false;
};

// The service's log, once there is one; says which, or that it waits.
std::string FindServiceLog() {
  const std::string folder = ServiceLogFolder();
  bool said = false;
  for (;;) {
    const std::optional<std::string> log = NewestServiceLog(ListFolder(folder));
    if (log) {
      WriteText(stderr, Fill(kViewShowingService, TerminalEscaped(*log),
                             ServiceNoticesPlace()));
      return *log;
    }
    if (!std::exchange(said, true)) {
      WriteText(stderr, Fill(kViewNoServiceLog, TerminalEscaped(folder),
                             ServiceNoticesPlace()));
    }
    PauseUnlessStopped(kBetweenLooks);
    if (StopRequested()) EndAfterStop();
  }
}

}  // namespace

ViewCommand ParseViewCommand(const std::vector<std::string>& arguments) {
  const std::string program =
      arguments.empty() ? "syslog-listen-view" : arguments[0];
  ViewCommand command;
  const auto fail = [&](std::string text) {
    command.exitCode = kExitCommandLine;
    command.output = std::move(text) + Fill(kErrorTail, program);
    return command;
  };
  bool options = true;
  bool named = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (options && word == "--") {
      options = false;
    } else if (options && (word == "-h" || word == "-H" || word == "--help")) {
      command.exitCode = 0;
      command.output = Fill(kViewUsage, program, ServiceLogFolder());
      return command;
    } else if (options && word.size() > 1 && word[0] == '-') {
      return fail(Fill(kInvalidOption, word));
    } else if (named) {
      return fail(Fill(kViewSecondFile, word));
    } else {
      command.file = word;
      named = true;
    }
  }
  return command;
}

std::optional<std::string> NewestServiceLog(
    std::span<const FolderEntry> entries) {
  const FolderEntry* newest = nullptr;
  for (const FolderEntry& entry : entries) {
    const std::string_view name = entry.name;
    // Named as the server names a log by default: syslog.<port>.log.
    const std::string_view prefix = kDefaultLogName.piece(0);
    const std::string_view suffix = kDefaultLogName.piece(1);
    if (name.size() <= prefix.size() + suffix.size() ||
        !name.starts_with(prefix) || !name.ends_with(suffix)) {
      continue;
    }
    if (newest == nullptr || entry.written > newest->written) newest = &entry;
  }
  if (newest == nullptr) return std::nullopt;
  return newest->path;
}

void RunView(const std::string& file) {
  WatchForStop();
  const std::string name = file.empty() ? FindServiceLog() : file;
  if (!file.empty())
    WriteText(stderr, Fill(kViewShowing, TerminalEscaped(name)));
  Viewer viewer(name);
  Presenter& presenter = viewer.presenter();
  Follower follower(PlatformFollowDisk(), name,
                    Presenter::kShownAtStart * kMaxRecordBytes);
  while (!StopRequested() && !viewer.gone()) {
    const bool grew = follower.Look(presenter);
    if (!grew) presenter.Idle();
    viewer.WriteOut();
    PauseUnlessStopped(grew ? kAfterGrowth : kBetweenLooks);
  }
  viewer.End();
}

}  // namespace syslog_listen
