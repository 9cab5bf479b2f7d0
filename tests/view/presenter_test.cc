#include "view/presenter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "view/stamped.h"

namespace syslog_listen {
namespace {

// Records in the console's wording, each on a line of its own, escaped and
// coloured up to the line end; a record shown in two pieces keeps its
// colour, a severity not of ours gives none. The file's pieces are split at
// '|', each followed by a stop of its growth.
TEST(Presenter, RecordsOnLinesOfTheirOwnInTheConsolesWording) {
  const std::string file =
      "syslog server(port:514) started on @\n"
      "@ <type:user level, severity:error> from 10.0.0.7\n>>boom\x1b[2J"
      "@ <type:kernel, severity:info> from 10.0.0.8\n>>fine\n"
      "@ <type:p4, severity:debug> from 10.0.0.9\n>>two\nlines|more|"
      "@ plain|@ <type:x, severity:bogus> from 1\n>>y";
  Presenter presenter(Output::kColourTerminal, [](FollowNote) {});
  std::istringstream in(file);
  for (std::string piece; std::getline(in, piece, '|');) {
    presenter.Bytes(Replaced(piece, "@", kStamp));
    presenter.Idle();
  }
  EXPECT_EQ(
      "syslog server(port:514) started on @\n"
      "\x1b[31m@ <fac:user level, svt:error> from 10.0.0.7\n>>boom^[[2J"
      "\x1b[0m\n@ <fac:kernel, svt:info> from 10.0.0.8\n>>fine\n"
      "\x1b[2m@ <fac:p4, svt:debug> from 10.0.0.9\n>>two\nlines\x1b[0m"
      "\x1b[2mmore\x1b[0m\n@ plain\n@ <type:x, severity:bogus> from 1\n>>y",
      Replaced(presenter.text(), kStamp, "@"));
  EXPECT_EQ(5u, presenter.records());  // the banner is none
}

// A character that a read cut in two is shown whole once its rest comes;
// one cut short when the file stops growing shows as bytes alone, escaped
// where they would be C1 controls.
TEST(Presenter, ACharacterCutByAReadIsShownWhole) {
  Presenter presenter(Output::kTerminal, [](FollowNote) {});
  for (const char* piece : {"a\xe2\x80", "\x9b b\xd1", "\x80 \xe2\x80"}) {
    presenter.Bytes(piece);
  }
  EXPECT_EQ("a\xe2\x80\x9b b\xd1\x80 ", presenter.text());
  presenter.Idle();
  presenter.EndLine();
  EXPECT_EQ("a\xe2\x80\x9b b\xd1\x80 \xe2\\x80\n", presenter.text());
}

}  // namespace
}  // namespace syslog_listen
