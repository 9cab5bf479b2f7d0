#include "view/record_splitter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "view/stamped.h"

namespace syslog_listen {
namespace {

// Feeds each of `steps`, split at '|', to a splitter that holds 40 bytes at
// most; "~" flushes it instead. Shows each piece as "[text]" when it starts
// a record, else "(text)", and each flush as "~"; stamps as "@".
std::string Split(const std::string& steps) {
  RecordSplitter splitter(40);
  std::string shown;
  const RecordSplitter::Show show = [&](const Piece& piece) {
    const std::string text = Replaced(piece.text, kStamp, "@");
    shown += (piece.starts ? "[" : "(") + text + (piece.starts ? "]" : ")");
  };
  std::istringstream in(steps);
  for (std::string step; std::getline(in, step, '|');) {
    if (step == "~") {
      shown += "~";
      splitter.Flush(show);
    } else {
      splitter.Feed(Replaced(step, "@", kStamp), show);
    }
  }
  return shown;
}

TEST(RecordSplitter, ARecordIsWholeOnceTheNextBeginsOrTheFileStops) {
  const struct {
    const char* steps;
    const char* shown;
  } cases[] = {
      // Back to back in one read, and a start split between two reads.
      {"@ a@ b>>|@ c Mon Jun 0|2 09:05:07 2025 d|~",
       "[@ a][@ b>>][@ c ]~[@ d]"},
      // The banner is a record; its time stamp ends in a line feed.
      {"syslog server(port:514) started on @\n@ a|~",
       "[syslog server(port:514) started on @\n]~[@ a]"},
      // What follows a flushed record goes on from it, shown as it comes.
      {"@ a|~|b|~|c|@ d|~", "~[@ a](b)~(c)~[@ d]"},
      // No starts (a file without -t): bytes as they come, none lost, a CR
      // held for the LF that may follow it.
      {"hello|world|~|more\r|\n|~", "(hello)(world)~(more)(\n)~"},
      // The stamp of a clock that could not be rendered starts one too.
      {"???? x|??? ??? ?? ??:??:?? ???? y|~",
       "(???? x)~[??? ??? ?? ??:??:?? ???? y]"},
      // Not starts: no space after the stamp, a made-up month, a letter
      // among the digits.
      {"@x|~|Mon Foo 02 09:05:07 2025 |~|Mon Jun 02 09:05:0x 2025 |~",
       "(@x)~(Mon Foo 02 09:05:07 2025 )~(Mon Jun 02 09:05:0x 2025 )~"},
      // CR LF, even split between reads, is a line end.
      {"@ a\r\n\r|\n@ b\r|~", "[@ a\n\n]~[@ b\r]"},
      // Held past the limit, a record is shown as it comes.
      {"@ 0123456789012345678901234567890|x|~",
       "[@ 0123456789012345678901234567890](x)~"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.shown, Split(c.steps)) << c.steps;
  }
}

TEST(TailStart, TheLastRecordsOfTheWindow) {
  const std::string three =
      Replaced("x@ a@ b\nsyslog server(port:1) @ c", "@", kStamp);
  const struct {
    std::string window;
    bool whole;
    std::size_t count, start;
  } cases[] = {
      {three, false, 2, three.find("syslog")},
      {three, false, 9, 1},  // from the first start, not the middle of one
      {three, true, 9, 0},
      {std::string(kMaxRecordBytes + 5, 'x'), false, 20, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.start, TailStart(c.window, c.whole, c.count))
        << c.window.substr(0, 80) << " count " << c.count;
  }
}

}  // namespace
}  // namespace syslog_listen
