#include "view/record_splitter.h"

#include <algorithm>
#include <vector>

#include "common/messages.h"
#include "common/timestamp.h"

namespace syslog_listen {

Start StartOf(std::string_view text) {
  if (text.empty()) return Start::kMaybe;
  // "syslog server(port:": no time stamp begins with a small letter.
  const std::string_view banner = kBanner.piece(0);
  if (text[0] == banner[0]) {
    const std::string_view part = text.substr(0, banner.size());
    if (!banner.starts_with(part)) return Start::kNo;
    return part.size() == banner.size() ? Start::kYes : Start::kMaybe;
  }
  if (!CouldBeTimestamp(text)) return Start::kNo;
  if (text.size() <= kTimestampLength) return Start::kMaybe;
  return text[kTimestampLength] == ' ' ? Start::kYes : Start::kNo;
}

bool StartsWithTimestamp(std::string_view text) {
  return text.size() > kTimestampLength && CouldBeTimestamp(text) &&
         text[kTimestampLength] == ' ';
}

std::size_t TailStart(std::string_view window, bool whole, std::size_t count) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < window.size(); ++at) {
    if (StartOf(window.substr(at)) == Start::kYes) starts.push_back(at);
  }
  if (count == 0) return window.size();
  if (starts.size() >= count) return starts[starts.size() - count];
  if (whole) return 0;
  if (!starts.empty()) return starts.front();
  return window.size() - std::min(window.size(), kMaxRecordBytes);
}

void RecordSplitter::Feed(std::string_view bytes, const Show& show) {
  // A CR LF split between two reads.
  if (bytes.starts_with('\n') && held_.ends_with('\r')) {
    held_.pop_back();
    scanFrom_ = std::min(scanFrom_, held_.size());
  }
  std::size_t from = 0;
  for (std::size_t cr; (cr = bytes.find("\r\n", from)) != bytes.npos;
       from = cr + 1) {
    held_.append(bytes.substr(from, cr - from));
  }
  held_.append(bytes.substr(from));

  const std::string_view held = held_;
  std::size_t begin = 0;  // the first byte not shown
  std::size_t at = scanFrom_;
  for (; at < held.size(); ++at) {
    if (at == begin && heldStarts_) continue;  // the start found before
    const Start start = StartOf(held.substr(at));
    if (start == Start::kMaybe) break;
    if (start == Start::kNo) continue;
    if (at > begin) show({held.substr(begin, at - begin), heldStarts_});
    begin = at;
    heldStarts_ = true;
  }
  // Bytes that begin no record (a file without -t, or what follows a
  // record shown at a flush) complete nothing by waiting: shown now, but
  // for a CR that an LF may follow.
  if (!heldStarts_) {
    const std::size_t end =
        at == held.size() && held.ends_with('\r') ? at - 1 : at;
    if (end > begin) show({held.substr(begin, end - begin), false});
    begin = std::max(begin, end);
  }
  held_.erase(0, begin);
  scanFrom_ = at - begin;
  if (held_.size() > holdLimit_) Flush(show);
}

void RecordSplitter::Flush(const Show& show) {
  if (!held_.empty()) show({held_, heldStarts_});
  held_.clear();
  heldStarts_ = false;
  scanFrom_ = 0;
}

}  // namespace syslog_listen
