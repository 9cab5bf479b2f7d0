// End-to-end with senders we did not write: util-linux logger, Python's
// SysLogHandler, syslog-ng and its loggen. Each sender talks to a plain
// socket of the test, which passes every datagram on, unchanged and in
// order, to the server: so the test knows exactly what the sender sent,
// and a change in a sender's format shows as such, not as a mystery.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// The annotation's names for the headers these senders use.
struct Header {
  const char* text;
  const char* facility;
  const char* severity;
};
constexpr Header kHeaders[] = {
    {"<156>", "debug L3", "warning"},  // local3.warning
    {"<155>", "debug L3", "error"},    // local3.err
    {"<45>", "internal", "notice"},    // syslog.notice
    {"<38>", "security", "info"},      // auth.info
};

class Senders : public ::testing::Test {
 protected:
  // Passes what the sender sent on to the server and checks that both
  // outputs hold, after the banner, exactly one annotated record for each
  // datagram, in order.
  void ExpectRecorded(const std::vector<std::string>& sent) {
    ASSERT_FALSE(sent.empty()) << "the sender sent nothing";
    std::string file = Banner(run_.port());
    std::string console = Banner(run_.port());
    for (const std::string& datagram : sent) {
      const Header* header = nullptr;
      for (const Header& known : kHeaders) {
        if (datagram.rfind(known.text, 0) == 0) header = &known;
      }
      ASSERT_NE(nullptr, header)
          << "the sender's datagram starts with no header this test "
             "expects: "
          << datagram.substr(0, 60);
      // The header is stripped; the text ends at the first NUL.
      std::string body = datagram.substr(std::string(header->text).size());
      body = body.substr(0, body.find('\0'));
      const std::string from = "> from 127.0.0.1\n>>";
      file += std::string("<time> <type:") + header->facility +
              ", severity:" + header->severity + from + body;
      console += std::string("<time> <fac:") + header->facility +
                 ", svt:" + header->severity + from + body;
      run_.SendPaced(datagram);
    }
    file = OnDisk(file);
    EXPECT_EQ("", Mismatch(file, MaskTimestamps(
                                     WaitForSize(run_.log(), RealSize(file)))));
    std::string shown;
    EXPECT_TRUE(WaitUntil([&] {
      return (shown = MaskTimestamps(run_.server().ConsoleText())) ==
             OnDisk(console);
    })) << Mismatch(OnDisk(console), shown);
  }

  Running run_{{"-t"}};
  UdpSocket capture_;  // where the senders send
};

TEST_F(Senders, LoggerInBothFormats) {
  if (Peer("logger").empty()) GTEST_SKIP() << "util-linux logger is missing";
  for (const char* format : {"--rfc3164", "--rfc5424"}) {
    ASSERT_EQ(
        0, RunToEnd({"logger", format, "-d", "-n", "127.0.0.1", "-P",
                     std::to_string(capture_.port()), "-p", "local3.warning",
                     "-t", "e2e", std::string("hello from logger ") + format},
                    run_.dir()));
  }
  const std::vector<std::string> sent = capture_.ReceiveUntilQuiet(500ms);
  ASSERT_EQ(2u, sent.size());
  EXPECT_NE(std::string::npos, sent[0].find(": hello from logger --rfc3164"))
      << sent[0];
  EXPECT_EQ(0u, sent[1].rfind("<156>1 ", 0))
      << "RFC 5424 has its version after the priority: " << sent[1];
  ExpectRecorded(sent);
}

TEST_F(Senders, PythonSysLogHandlerWithUtf8AndByteOrderMark) {
  if (Peer("python3").empty()) GTEST_SKIP() << "python3 is missing";
  const std::string script =
      "import logging, logging.handlers, sys\n"
      "handler = logging.handlers.SysLogHandler(\n"
      "    address=('127.0.0.1', int(sys.argv[1])),\n"
      "    facility=logging.handlers.SysLogHandler.LOG_LOCAL3)\n"
      "log = logging.getLogger('e2e')\n"
      "log.addHandler(handler)\n"
      "log.warning('plain ascii')\n"
      "log.warning('\\ufeffGr\\u00fc\\u00dfe aus K\\u00f6ln \\u2013 "
      "\\u2713')\n"
      "log.error('line one\\nline two\\n')\n";
  ASSERT_EQ(0,
            RunToEnd({"python3", "-c", script, std::to_string(capture_.port())},
                     run_.dir()));
  const std::vector<std::string> sent = capture_.ReceiveUntilQuiet(500ms);
  ASSERT_EQ(3u, sent.size());
  // The handler ends each message with a NUL, which ends the text.
  EXPECT_EQ(std::string("<156>\xef\xbb\xbfGr\xc3\xbc\xc3\x9f"
                        "e aus K\xc3\xb6ln \xe2\x80\x93 \xe2\x9c\x93") +
                '\0',
            sent[1]);
  ExpectRecorded(sent);
}

TEST_F(Senders, SyslogNgForwardsItsOwnMessages) {
  std::vector<std::string> command = Peer("syslog-ng");
  if (command.empty()) GTEST_SKIP() << "syslog-ng is missing";
  const auto config = run_.dir() / "syslog-ng.conf";
  std::ofstream(config)
      << "@version: 3.38\n"
         "source own { internal(); };\n"
         "destination listener { network(\"127.0.0.1\" transport(\"udp\") "
         "port("
      << capture_.port()
      << ")); };\n"
         "log { source(own); destination(listener); };\n";
  const std::string at = run_.dir().string() + "/";
  std::vector<std::string> sent;
  {
    command.insert(command.end(),
                   {"--foreground", "--no-caps", "--cfgfile", config.string(),
                    "--persist-file", at + "persist", "--pidfile", at + "pid",
                    "--control", at + "control"});
    ChildProcess syslogNg(command, run_.dir(), Stdout::kFile, "syslog-ng.");
    ASSERT_TRUE(WaitUntil([&] {
      for (std::string& datagram : capture_.ReceiveUntilQuiet(10ms)) {
        sent.push_back(std::move(datagram));
      }
      return !sent.empty();
    })) << syslogNg.ErrorText();
    syslogNg.Signal(SIGTERM);
    EXPECT_TRUE(syslogNg.WaitForExit().has_value());
  }
  for (std::string& datagram : capture_.ReceiveUntilQuiet(500ms)) {
    sent.push_back(std::move(datagram));
  }
  ASSERT_GE(sent.size(), 2u);
  EXPECT_NE(std::string::npos, sent.front().find("syslog-ng starting up"))
      << sent.front();
  EXPECT_NE(std::string::npos, sent.back().find("syslog-ng shutting down"))
      << sent.back();
  ExpectRecorded(sent);
}

TEST_F(Senders, LoggenMessagesAllArriveInOrder) {
  std::vector<std::string> command = Peer("loggen");
  if (command.empty()) GTEST_SKIP() << "loggen is missing";
  constexpr int kCount = 500;
  command.insert(command.end(), {"--inet", "--dgram", "--quiet", "--number",
                                 std::to_string(kCount), "--rate", "2000",
                                 "127.0.0.1", std::to_string(capture_.port())});
  ASSERT_EQ(0, RunToEnd(command, run_.dir()));
  const std::vector<std::string> sent = capture_.ReceiveUntilQuiet(500ms);
  ASSERT_EQ(static_cast<std::size_t>(kCount), sent.size());
  for (int i = 0; i < kCount; ++i) {
    char seq[32];
    std::snprintf(seq, sizeof seq, "seq: %010d,", i);
    ASSERT_NE(std::string::npos, sent[static_cast<std::size_t>(i)].find(seq))
        << "loggen's message " << i << ": "
        << sent[static_cast<std::size_t>(i)];
  }
  ExpectRecorded(sent);
}

}  // namespace
}  // namespace e2e
