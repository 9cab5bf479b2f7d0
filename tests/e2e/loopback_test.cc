// End-to-end: the real server on a free port, real datagrams from
// 127.0.0.1, and the console and log file compared byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace e2e {
namespace {

std::string WindowsPath(const std::filesystem::path& path);

// Plain records: the header is stripped, nothing is added between records,
// and both outputs carry the same bytes. A datagram of 10000 bytes is kept
// whole, a longer one cut to its first 10000, and one with a NUL recorded up
// to it, which standard error reports (with the size where the system says
// it), after the start-up line; NULs alone left out are no cut. The stop's
// account counts both.
TEST(Loopback, PlainRecordsRunTogether) {
  Running run;
  const std::string full(10000, 'f');
  const std::string longer = std::string(10000, 'g') + "LOST";
  run.Send("a");
  run.Send("b");
  run.Send("<13>hello\n");
  run.Send("");  // an empty datagram adds nothing, and repeats nothing
  run.Send("%s%n\n");
  run.Send("crlf\r\n");  // text mode adds CR before LF without looking
  run.Send(full);
  run.Send(longer);
  run.Send(std::string("x\0IMPORTANT", 11));
  run.Send(std::string("pad\0\0", 5));
  run.Send("|");
  const std::string records =
      "abhello\n%s%n\ncrlf\r\n" + full + longer.substr(0, 10000) + "xpad|";
  const std::string expected = OnDisk(Banner(run.port()) + records);
  const std::string file = WaitForSize(run.log(), RealSize(expected));
  EXPECT_EQ("", Mismatch(expected, MaskTimestamps(file)));
  ASSERT_TRUE(WaitUntil([&] { return run.server().ConsoleText() == file; }))
      << Mismatch(file, run.server().ConsoleText());
  const std::string cut = OnDisk(
      "syslog-listen: 1 datagram longer than 10000 bytes was recorded cut to "
      "the first 10000" +
      std::string(WindowsServer() ? "" : " (10004 bytes)") +
      "\nsyslog-listen: 1 datagram with a NUL byte was recorded up to the "
      "NUL, the rest left out\n");
  EXPECT_TRUE(WaitUntil([&] { return run.server().Reports() == cut; }))
      << run.server().Reports();
  // The start-up line comes first (with this machine's addresses).
  const auto path = std::filesystem::canonical(run.dir()) / "test.log";
  EXPECT_TRUE(run.server().ErrorText().ends_with(
      OnDisk("; records go to " +
             (WindowsServer() ? WindowsPath(path) : path.string()) + "\n") +
      cut))
      << run.server().ErrorText();
  run.server().Signal(WindowsServer() ? SIGINT : SIGTERM);
  ASSERT_TRUE(run.server().WaitForStatus().has_value());
  EXPECT_EQ(cut + OnDisk("syslog-listen: stopped after <time>; received 11 "
                         "datagrams (20,040 bytes); 1 recorded cut to 10000 "
                         "bytes; 1 recorded up to a NUL byte\n"),
            MaskRunTime(run.server().Reports()));
}

// A port that another socket or another server holds: the bind fails with
// exit code 6 (its message, and the log file opened first, are the start-up
// table's unit rows). Standard error names the holder: this test, the other
// server (where the server runs under a launcher, at least that one holds
// it). A port below 1024, started as nobody, needs privilege: it says so.
TEST(Loopback, TakenPortFailsNamingItsHolder) {
  UdpSocket socketHolder(0, true);
  Running serverHolder;
  const std::string holders[] = {
      "e2e_tests (process " + std::to_string(getpid()) + ")",
      "syslog-listen (process " + std::to_string(serverHolder.server().pid()) +
          ")"};
  int i = 0;
  for (int port : {socketHolder.port(), serverHolder.port()}) {
    TempDir dir;
    ChildProcess server(ServerCommand({"-p", std::to_string(port)}),
                        dir.path());
    EXPECT_EQ(6, server.WaitForExit()) << port;
    const std::string cause =
        "syslog-listen: UDP port " + std::to_string(port) + " is in use by ";
    EXPECT_TRUE(server.ErrorText().starts_with(
        Launched() ? cause : cause + holders[i] + "; stop that program"))
        << server.ErrorText();
    ++i;
  }
  // A holder named to drive the terminal (anyone may take a port from 1024
  // up) is named escaped.
  if (!Launched() && !Peer("python3").empty()) {
    TempDir dir;
    const int port = FreeUdpPort();
    ChildProcess holder(
        {"python3", "-c",
         "import socket, sys, time\n"
         "open('/proc/self/comm', 'w').write('\\x1b]2;OWNED\\x07\\x1b[2J')\n"
         "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
         "s.bind(('', int(sys.argv[1])))\n"
         "print('bound', flush=True)\n"
         "time.sleep(60)\n",
         std::to_string(port)},
        dir.path(), Stdout::kPipe, "holder.");
    ASSERT_TRUE(WaitUntil([&] { return holder.ConsoleText() == "bound\n"; }));
    ChildProcess server(ServerCommand({"-p", std::to_string(port)}),
                        dir.path());
    EXPECT_EQ(6, server.WaitForExit());
    EXPECT_EQ("syslog-listen: UDP port " + std::to_string(port) +
                  " is in use by ^[]2;OWNED^G^[[2J (process " +
                  std::to_string(holder.pid()) +
                  "); stop that program, or choose another port with -p\n",
              server.ErrorText());
  }
  if (geteuid() != 0 || Launched()) return;
  TempDir dir;
  ChildProcess server(
      Behind({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"},
             1),
      dir.path(), Stdout::kFile, "");
  EXPECT_EQ(6, server.WaitForExit());
  EXPECT_EQ(
      "syslog-listen: ports below 1024 need root or the right to bind them: "
      "start it as root, grant the right with sudo setcap "
      "cap_net_bind_service=+ep " +
          std::filesystem::canonical(ServerCommand().back()).string() +
          ", or choose a port from 1024 up (-p 5514)\n",
      server.ErrorText());
}

// Start-up failures and command-line errors end the process with their codes
// and their text on standard output; a start-up failure says why on
// standard error.
TEST(Loopback, StartUpFailuresAndCommandLineErrors) {
  struct {
    std::vector<std::string> args;
    int code;
    std::string output;  // "" when the output holds the program name
    std::string cause;   // on standard error
  } cases[] = {
      // A name that is not ASCII arrives whole, and is shown as given.
      {{"-o", "no/such/dir/журнал.log"},
       4,
       "failed to open file : no/such/dir/журнал.log for writing\n",
       "syslog-listen: the folder no/such/dir does not exist; create it, or "
       "choose another file with -o\n"},
      // A name is not ours: its escape sequence is shown, not obeyed, on
      // standard error (standard output takes the name as given).
      {{"-o", "no/such/d\x1b]2;x\a/a.log"},
       4,
       "failed to open file : no/such/d\x1b]2;x\a/a.log for writing\n",
       WindowsServer() ? "syslog-listen: cannot open no/such/d^[]2;x^G/a.log: "
                         "Invalid name\n"
                       : "syslog-listen: the folder no/such/d^[]2;x^G does not "
                         "exist; create it, or choose another file with -o\n"},
      {{"-o", "."},
       4,
       "failed to open file : . for writing\n",
       "syslog-listen: . is a folder; give a file's name with -o\n"},
      {{"-p", "65536"}, 1, "", ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ChildProcess server(ServerCommand(c.args), dir.path());
    EXPECT_EQ(c.code, server.WaitForExit()) << c.args[0];
    const std::string console = server.ConsoleText();
    if (!c.output.empty()) {
      EXPECT_EQ(OnDisk(c.output), console);
    } else {
      EXPECT_NE(std::string::npos, console.find(OnDisk(" -h to get help "
                                                       "information\n")))
          << console;
    }
    EXPECT_EQ(OnDisk(c.cause), ReadFile(dir.path() / "stderr.out"))
        << c.args[0];
  }
  if (!WindowsServer()) return;
  // Wine gives a program on a terminal a console: there the name is shown
  // as the text it is, whatever the console's code page.
  TempDir dir;
  ChildProcess server(ServerCommand(cases[0].args), dir.path(),
                      Stdout::kTerminal);
  EXPECT_EQ(4, server.WaitForExit());
  EXPECT_TRUE(WaitUntil([&] {
    return server.ConsoleText().find(cases[0].output.substr(
               0, cases[0].output.find(" for"))) != std::string::npos;
  })) << server.ConsoleText();
}

// A word the scan skips, and a -p value that is not the port as typed, get
// a note on standard error before the start-up line, which names the port
// the server listens on; a word that names it gets no advice to.
TEST(Loopback, SkippedWordsAndWrappedPortsAreSaidFirst) {
  for (int row = 0; row < 3; ++row) {
    const std::string p = std::to_string(FreeUdpPort());
    const std::string wrapped = std::to_string(std::stoi(p) + 65536);
    // A word (an empty one names nothing), -p's value, the note.
    const std::string rows[3][3] = {
        {"", wrapped,
         "-p " + wrapped + " is taken as UDP port " + p +
             ": ports go from 1 to 65535, and other numbers wrap around"},
        {"/?", p, "/? is not an option and was ignored; -h shows the options"},
        {p, p, p + " is not an option and was ignored"}};
    const auto& [word, value, note] = rows[row];
    TempDir dir;
    ChildProcess server(ServerCommand({word, "-p", value}), dir.path());
    EXPECT_TRUE(WaitUntil([&] {
      return server.ErrorText().starts_with(
          OnDisk("syslog-listen: " + note +
                 "\nsyslog-listen: listening on UDP port " + p + " "));
    })) << server.ErrorText();
  }
}

// A console that is closed or a pipe without reader must not cost a record:
// the file gets everything, once.
TEST(Loopback, RecordsReachTheFileWhenTheConsoleIsGone) {
  for (Stdout console : {Stdout::kClosed, Stdout::kPipeWithoutReader}) {
    Running run({"-t"}, console);
    std::string expected = Banner(run.port());
    for (int i = 0; i < 50; ++i) {
      run.Send("<13>" + Numbered('m', i));
      expected +=
          "<time> <type:user level, severity:notice> from 127.0.0.1\n>>" +
          Numbered('m', i);
    }
    expected = OnDisk(expected);
    EXPECT_EQ(expected,
              MaskTimestamps(WaitForSize(run.log(), RealSize(expected))))
        << static_cast<int>(console);
    EXPECT_TRUE(run.server().Running());
  }
}

// A restart appends a new banner directly after the last record, even on
// the same line.
TEST(Loopback, RestartAppendsABanner) {
  TempDir dir;
  const int port = FreeUdpPort();
  const std::vector<std::string> args = {"-p", std::to_string(port)};
  const auto log =
      dir.path() / ("syslog." + std::to_string(SignedPort(port)) + ".log");
  {
    ChildProcess first(ServerCommand(args), dir.path());
    ASSERT_TRUE(WaitForBanner(log));
    UdpSocket().SendTo(port, "no line end");
    WaitForSize(log, RealSize(OnDisk(Banner(port) + "no line end")));
  }
  ChildProcess second(ServerCommand(args), dir.path());
  const std::string expected =
      OnDisk(Banner(port) + "no line end" + Banner(port));
  EXPECT_EQ(expected, MaskTimestamps(WaitForSize(log, RealSize(expected))));
}

// A path as Windows programs under wine see it: drive Z: is the root.
std::string WindowsPath(const std::filesystem::path& path) {
  std::string windows = "Z:" + std::filesystem::absolute(path).string();
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

// The Windows executable as a service, the way a Windows user runs one (sc
// create, net start, net stop, sc delete): it takes its options from the
// command line it was created with, records byte for byte into a file
// whose name is not ASCII, and when stopped it has recorded every datagram
// it had received.
TEST(Loopback, WindowsService) {
  if (!WindowsServer()) GTEST_SKIP() << "a Windows service";
  TempDir dir;
  const int port = FreeUdpPort();
  const auto log = dir.path() / "журнал.log";
  const std::string wine = ServerCommand().front();
  const auto sc = [&](std::vector<std::string> words) {
    words.insert(words.begin(), wine);
    return RunToEnd(words, dir.path());
  };
  sc({"sc", "delete", "syslog-listen"});  // left by an earlier run, if any
  ASSERT_EQ(0,
            sc({"sc", "create", "syslog-listen", "binpath=",
                WindowsPath(ServerCommand().back()) + " -p " +
                    std::to_string(port) + " -o " + WindowsPath(log) + " -t"}));
  struct Delete {
    std::function<int(std::vector<std::string>)> sc;
    ~Delete() { sc({"sc", "delete", "syslog-listen"}); }
  } deleteIt{sc};
  ASSERT_EQ(0, sc({"net", "start", "syslog-listen"}));
  ASSERT_TRUE(WaitForBanner(log));
  std::string records = Banner(port);
  UdpSocket sender;
  for (int i = 0; i < 1000; ++i) {
    sender.SendTo(port, "<13>" + Numbered('v', i));
    records += "<time> <type:user level, severity:notice> from 127.0.0.1\n>>" +
               Numbered('v', i);
  }
  EXPECT_EQ(0, sc({"net", "stop", "syslog-listen"}));
  // Wine's net stop may return while the service is still stopping: what
  // counts is what the file holds once the service says it has stopped.
  EXPECT_TRUE(WaitUntil([&] {
    return sc({"sc", "query", "syslog-listen"}) == 0 &&
           ReadFile(dir.path() / "wine.console.out").find("STOPPED") !=
               std::string::npos;
  })) << ReadFile(dir.path() / "wine.console.out");
  EXPECT_EQ("", Mismatch(OnDisk(records), MaskTimestamps(ReadFile(log))));
}

}  // namespace
}  // namespace e2e
