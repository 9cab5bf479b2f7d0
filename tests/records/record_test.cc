#include "records/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace syslog_listen {
namespace {

constexpr std::string_view kTime = "Mon Jun 02 09:05:07 2025";

std::uint32_t Address(unsigned char a, unsigned char b, unsigned char c,
                      unsigned char d) {
  const unsigned char bytes[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

TEST(ComposeRecord, BothOutputsByteForByte) {
  struct {
    std::string text;
    bool annotate;
    std::string console;
    std::string file;
  } cases[] = {
      {"<13>hello", true,
       "Mon Jun 02 09:05:07 2025 <fac:user level, svt:notice> from "
       "10.0.0.7\n>>hello",
       "Mon Jun 02 09:05:07 2025 <type:user level, severity:notice> from "
       "10.0.0.7\n>>hello"},
      {"<13>hello", false, "hello", "hello"},
      {"hello", true, "Mon Jun 02 09:05:07 2025 hello",
       "Mon Jun 02 09:05:07 2025 hello"},
      {"<0>boot", true, "Mon Jun 02 09:05:07 2025 <0>boot",
       "Mon Jun 02 09:05:07 2025 <0>boot"},
      {"", true, "Mon Jun 02 09:05:07 2025 ", "Mon Jun 02 09:05:07 2025 "},
      {"", false, "", ""},
      {"<191>x\n", true,
       "Mon Jun 02 09:05:07 2025 <fac:p4, svt:debug> from 10.0.0.7\n>>x\n",
       "Mon Jun 02 09:05:07 2025 <type:p4, severity:debug> from "
       "10.0.0.7\n>>x\n"},
      // A header without '>' keeps the whole text but is still annotated.
      {"<13 no close", true,
       "Mon Jun 02 09:05:07 2025 <fac:user level, svt:notice> from "
       "10.0.0.7\n>><13 no close",
       "Mon Jun 02 09:05:07 2025 <type:user level, severity:notice> from "
       "10.0.0.7\n>><13 no close"},
      // Empty body: the record ends on ">>".
      {"<192>", true,
       "Mon Jun 02 09:05:07 2025 <fac:kernel, svt:emergency> from "
       "10.0.0.7\n>>",
       "Mon Jun 02 09:05:07 2025 <type:kernel, severity:emergency> from "
       "10.0.0.7\n>>"},
      // A negative priority names no facility of the table.
      {"<-8>x", true,
       "Mon Jun 02 09:05:07 2025 <fac:unknown, svt:emergency> from "
       "10.0.0.7\n>>x",
       "Mon Jun 02 09:05:07 2025 <type:unknown, severity:emergency> from "
       "10.0.0.7\n>>x"},
      {"<-8>x", false, "x", "x"},
      // Received bytes are data, never a format.
      {"<14>%s%n%d", true,
       "Mon Jun 02 09:05:07 2025 <fac:user level, svt:info> from "
       "10.0.0.7\n>>%s%n%d",
       "Mon Jun 02 09:05:07 2025 <type:user level, severity:info> from "
       "10.0.0.7\n>>%s%n%d"},
      {"\xff\x80\r\n\x1b[2J", false, "\xff\x80\r\n\x1b[2J",
       "\xff\x80\r\n\x1b[2J"},
  };
  for (const auto& c : cases) {
    Message message{c.text, kTime, Address(10, 0, 0, 7)};
    EXPECT_EQ(c.console, ComposeRecord(Output::kConsole, message, c.annotate))
        << c.text << " annotate=" << c.annotate;
    EXPECT_EQ(c.file, ComposeRecord(Output::kLogFile, message, c.annotate))
        << c.text << " annotate=" << c.annotate;
  }
}

TEST(AppendTerminalEscaped, ControlsAreShownNotObeyed) {
  struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"\x1b]0;owned\x07", "^[]0;owned^G"},
      {"\x1b[2J\x1b[H", "^[[2J^[[H"},
      {std::string("a\0b", 3), "a^@b"},
      {"\x01\x1a\x1f\x7f", "^A^Z^_^?"},
      {"tab\tcrlf\r\nlf\n", "tab\tcrlf\r\nlf\n"},
      // A carriage return not before a line feed would rewrite the line.
      {"ok\rforged\r\r\n\r", "ok^Mforged^M\r\n^M"},
      // The UTF-8 forms of C1 controls: CSI, and OSC ... ST.
      {"\xc2\x9b"
       "31m \xc2\x9d"
       "0;t\xc2\x9c",
       "\\u009B31m \\u009D0;t\\u009C"},
      // A C2 at the very end could take the next record's first byte.
      {"\xc2\x80\xc2\x9f\xc2", "\\u0080\\u009F\\xC2"},
      {"\xc2\xc2", "\xc2\\xC2"},
      // Other UTF-8 text passes unchanged, its bytes from 80 to 9F too; so
      // do bytes alone from A0 up. One alone from 80 to 9F (9B: CSI), or in
      // a sequence cut short or overlong, is an 8-bit C1 control.
      {"gr\xc3\xbc \xe2\x80\x9b \xf0\x9f\x98\x80\xff",
       "gr\xc3\xbc \xe2\x80\x9b \xf0\x9f\x98\x80\xff"},
      {"\x9b\xe9\x9b \xe2\x80x \xc0\x9b",
       "\\x9B\xe9\\x9B \xe2\\x80x \xc0\\x9B"},
      {"", ""},
      {"^[ stays", "^[ stays"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    AppendTerminalEscaped(out, c.text);
    EXPECT_EQ("x" + c.shown, out) << c.text;
  }
}

// Only a terminal gets escapes, only in the body; the annotation keeps its
// line feed, and the log file and a plain console keep the raw bytes.
TEST(ComposeRecord, TerminalEscapesTheBodyOnly) {
  const Message message{"<13>\x1b[31mred\x1b[0m\n", kTime,
                        Address(10, 0, 0, 7)};
  EXPECT_EQ(
      "Mon Jun 02 09:05:07 2025 <fac:user level, svt:notice> from "
      "10.0.0.7\n>>^[[31mred^[[0m\n",
      ComposeRecord(Output::kTerminal, message, true));
  EXPECT_EQ("^[[31mred^[[0m\n",
            ComposeRecord(Output::kTerminal, message, false));
  EXPECT_EQ("\x1b[31mred\x1b[0m\n",
            ComposeRecord(Output::kConsole, message, false));
  EXPECT_EQ("\x1b[31mred\x1b[0m\n",
            ComposeRecord(Output::kLogFile, message, false));
}

// journalctl's colours by severity, reset before the record's line end,
// around the escaped body; nothing without a header or at informational. A
// line end after a record without one, as on any terminal.
TEST(ComposeRecord, ColourTerminalShowsSeverities) {
  const struct {
    const char* text;
    bool annotate;
    const char* shown;
  } cases[] = {
      {"<8>panic\n", false, "\x1b[1;31mpanic\x1b[0m\n"},
      {"<10>crit", false, "\x1b[1;31mcrit\x1b[0m\n"},
      {"<11>err\r\n", false, "\x1b[31merr\x1b[0m\r\n"},
      {"<12>warn\x1b[0m\n", false, "\x1b[33mwarn^[[0m\x1b[0m\n"},
      {"<13>note", false, "note\n"},
      // Every record ends its line; an empty one takes none.
      {"cr\r", false, "cr^M\n"},
      {"", false, ""},
      {"<11>", false, "\x1b[31m\x1b[0m"},
      {"<13>", true,
       "Mon Jun 02 09:05:07 2025 <fac:user level, svt:notice> from "
       "10.0.0.7\n>>\n"},
      {"<14>info\n", false, "info\n"},
      {"<15>dbg\n", false, "\x1b[2mdbg\x1b[0m\n"},
      {"plain\n", false, "plain\n"},
      {"<0>zero\n", false, "<0>zero\n"},
      {"<11>x\n", true,
       "\x1b[31mMon Jun 02 09:05:07 2025 <fac:user level, svt:error> from "
       "10.0.0.7\n>>x\x1b[0m\n"},
  };
  for (const auto& c : cases) {
    const Message message{c.text, kTime, Address(10, 0, 0, 7)};
    EXPECT_EQ(c.shown,
              ComposeRecord(Output::kColourTerminal, message, c.annotate))
        << c.text;
  }
}

TEST(AppendRecord, AppendsAfterEarlierRecords) {
  std::string out = "a";
  AppendRecord(out, Output::kLogFile, Message{"<13>b", kTime, 0}, false);
  EXPECT_EQ("ab", out);
}

TEST(AppendDottedQuad, BytesInNetworkOrderWithoutLeadingZeros) {
  struct {
    std::uint32_t address;
    const char* text;
  } cases[] = {{Address(127, 0, 0, 1), "127.0.0.1"},
               {Address(0, 0, 0, 0), "0.0.0.0"},
               {Address(255, 255, 255, 255), "255.255.255.255"},
               {Address(192, 168, 10, 100), "192.168.10.100"},
               {Address(1, 20, 9, 200), "1.20.9.200"}};
  for (const auto& c : cases) {
    std::string out;
    AppendDottedQuad(out, c.address);
    EXPECT_EQ(c.text, out);
  }
}

}  // namespace
}  // namespace syslog_listen
