// How a followed log file is shown on the console: record by record, each
// starting a line of its own, in the console's wording of the annotation
// and, on a terminal, escaped and in its severity's colour, as the server
// shows it. The last record is shown once the file stops growing.
#ifndef SYSLOG_LISTEN_VIEW_PRESENTER_H_
#define SYSLOG_LISTEN_VIEW_PRESENTER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "records/record.h"
#include "view/follower.h"
#include "view/record_splitter.h"

namespace syslog_listen {

// `record`, which begins with a time stamp text and a space, in the
// console's wording of the annotation, and its severity index; false when it
// has no annotation of the file's wording.
bool ToConsoleWording(std::string_view record, std::string& out, int* severity);

class Presenter final : public FollowSink {
 public:
  // How many records the first file's end shows.
  static constexpr std::size_t kShownAtStart = 20;

  // `form`: kConsole, kTerminal or kColourTerminal. `note` says what the
  // follower has to say.
  Presenter(Output form, std::function<void(FollowNote)> note)
      : form_(form), note_(std::move(note)) {}

  void Tail(std::string_view bytes, bool whole) override;
  void Bytes(std::string_view bytes) override;
  // What a new file (or one cut short) brings starts a line.
  void Ended() override;
  void Note(FollowNote note) override { note_(note); }

  // The file has stopped growing: what is held is shown, a character cut
  // short included.
  void Idle();
  // Ends the line shown last if it has no end: before a line of our own.
  void EndLine();

  // The console text made so far; the caller takes it away.
  std::string& text() { return text_; }
  // Records (not banners) shown so far.
  std::uint64_t records() const { return records_; }

 private:
  void Show(const Piece& piece);
  // Shows a character's first bytes whose rest has not come, as bytes
  // alone.
  void ShowHeld();

  const Output form_;
  const std::function<void(FollowNote)> note_;
  RecordSplitter splitter_;
  const RecordSplitter::Show show_ = [this](const Piece& p) { Show(p); };
  std::string text_;
  int severity_ = -1;  // of the record shown last; -1: none
  bool lineStart_ = true;
  std::uint64_t records_ = 0;
  std::string worded_;
  std::string held_;    // a character's first bytes, its rest to come
  std::string joined_;  // held_ and the text that follows it
};

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_VIEW_PRESENTER_H_
