#include "view/presenter.h"

#include "common/messages.h"
#include "common/timestamp.h"
#include "records/names.h"

namespace syslog_listen {

namespace {

int SeverityNamed(std::string_view name) {
  for (int index = 0; index < 8; ++index) {
    if (SeverityName(index) == name) return index;
  }
  return -1;
}

}  // namespace

bool ToConsoleWording(std::string_view record, std::string& out,
                      int* severity) {
  // Both wordings end alike from "> from " on.
  const Template<3>& file = kFileAnnotation;
  const Template<3>& console = kConsoleAnnotation;
  const std::string_view stamp = record.substr(0, kTimestampLength + 1);
  const std::string_view rest = record.substr(stamp.size());
  if (!rest.starts_with(file.piece(0))) return false;
  const std::size_t facilityEnd = rest.find(file.piece(1));
  if (facilityEnd == rest.npos) return false;
  const std::size_t severityFrom = facilityEnd + file.piece(1).size();
  const std::size_t severityEnd = rest.find(file.piece(2), severityFrom);
  if (severityEnd == rest.npos) return false;
  const std::string_view name =
      rest.substr(severityFrom, severityEnd - severityFrom);
  *severity = SeverityNamed(name);
  if (*severity < 0) return false;
  const std::size_t facilityFrom = file.piece(0).size();
  out.assign(stamp)
      .append(console.piece(0))
      .append(rest.substr(facilityFrom, facilityEnd - facilityFrom))
      .append(console.piece(1))
      .append(name)
      .append(rest.substr(severityEnd));
  return true;
}

void Presenter::Tail(std::string_view bytes, bool whole) {
  splitter_.Feed(bytes.substr(TailStart(bytes, whole, kShownAtStart)), show_);
}

void Presenter::Bytes(std::string_view bytes) { splitter_.Feed(bytes, show_); }

void Presenter::Ended() {
  splitter_.Flush(show_);
  EndLine();
}

void Presenter::Idle() {
  splitter_.Flush(show_);
  ShowHeld();
}

void Presenter::EndLine() {
  ShowHeld();
  if (!lineStart_) text_.push_back('\n');
  lineStart_ = true;
}

void Presenter::ShowHeld() {
  if (held_.empty()) return;
  AppendTerminalEscaped(text_, held_);
  held_.clear();
  lineStart_ = false;
}

void Presenter::Show(const Piece& piece) {
  std::string_view text = piece.text;
  if (piece.starts) {
    EndLine();
    severity_ = -1;
    if (StartsWithTimestamp(text)) {
      ++records_;
      if (ToConsoleWording(text, worded_, &severity_)) text = worded_;
    }
  }
  if (form_ != Output::kConsole) {
    // Where a read ended inside a character, its first bytes wait for the
    // rest, so that it is shown whole and not as bytes alone.
    if (!held_.empty()) text = joined_.assign(held_).append(text);
    const std::size_t cut = Utf8CutShort(text);
    held_.assign(text.substr(text.size() - cut));
    text.remove_suffix(cut);
  }
  if (text.empty()) return;
  const std::string_view colour =
      form_ == Output::kColourTerminal ? SeverityColour(severity_) : "";
  text_.append(colour);
  if (form_ == Output::kConsole) {
    text_.append(text);
  } else {
    AppendTerminalEscaped(text_, text);
  }
  lineStart_ = text_.back() == '\n';
  if (!colour.empty()) {
    // Before the line end, so that the next line starts plain.
    text_.insert(lineStart_ ? text_.size() - 1 : text_.size(), kColourReset);
  }
}

}  // namespace syslog_listen
