#include "view/presenter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "view/stamped.h"

namespace syslog_listen {
namespace {

// `file`'s pieces, split at '|', each followed by a stop of the file's
// growth; "@" is a time stamp text.
std::string Shown(Output form, const std::string& file,
                  std::uint64_t* records = nullptr) {
  Presenter presenter(form, [](FollowNote) {});
  std::istringstream in(file);
  for (std::string piece; std::getline(in, piece, '|');) {
    presenter.Bytes(Replaced(piece, "@", kStamp));
    presenter.Idle();
  }
  if (records != nullptr) *records = presenter.records();
  return Replaced(presenter.text(), kStamp, "@");
}

TEST(Presenter, RecordsOnLinesOfTheirOwnInTheConsolesWording) {
  const std::string file =
      "syslog server(port:514) started on @\n"
      "@ <type:user level, severity:error> from 10.0.0.7\n>>boom\x1b[2J"
      "@ <type:kernel, severity:info> from 10.0.0.8\n>>fine\n"
      "@ <type:p4, severity:debug> from 10.0.0.9\n>>two\nlines|more|"
      "@ plain|@ <type:x, severity:bogus> from 1\n>>y";
  const struct {
    Output form;
    std::string shown;
  } cases[] = {
      // Raw bytes, as the server's console gives a pipe.
      {Output::kConsole,
       "syslog server(port:514) started on @\n"
       "@ <fac:user level, svt:error> from 10.0.0.7\n>>boom\x1b[2J\n"
       "@ <fac:kernel, svt:info> from 10.0.0.8\n>>fine\n"
       "@ <fac:p4, svt:debug> from 10.0.0.9\n>>two\nlinesmore\n"
       "@ plain\n@ <type:x, severity:bogus> from 1\n>>y"},
      // Escaped, and coloured up to the line end; a record shown in two
      // pieces keeps its colour; a severity not of ours gives none.
      {Output::kColourTerminal,
       "syslog server(port:514) started on @\n"
       "\x1b[31m@ <fac:user level, svt:error> from 10.0.0.7\n>>boom^[[2J"
       "\x1b[0m\n@ <fac:kernel, svt:info> from 10.0.0.8\n>>fine\n"
       "\x1b[2m@ <fac:p4, svt:debug> from 10.0.0.9\n>>two\nlines\x1b[0m"
       "\x1b[2mmore\x1b[0m\n@ plain\n@ <type:x, severity:bogus> from 1\n>>y"},
  };
  for (const auto& c : cases) {
    std::uint64_t records = 0;
    EXPECT_EQ(c.shown, Shown(c.form, file, &records))
        << static_cast<int>(c.form);
    EXPECT_EQ(5u, records);  // the banner is none
  }
}

}  // namespace
}  // namespace syslog_listen
