// End-to-end: faults the server must survive without losing a record it
// could have kept, and input it must not let through to a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/counts.h"
#include "support/harness.h"

namespace e2e {
namespace {

// Waits until the server has taken everything queued for it and waits.
bool Drained(ServerProcess& server, int port) {
  return WaitUntil([&] {
    return ReceiveQueueBytes(port) == 0 && WaitingInReceive(server.pid());
  });
}

// The server's command, run by `prefix`, on `port` with -o test.log.
std::vector<std::string> Behind(std::vector<std::string> prefix, int port) {
  for (const std::string& word : ServerCommand()) prefix.push_back(word);
  prefix.insert(prefix.end(), {"-p", std::to_string(port), "-o", "test.log"});
  return prefix;
}

// Killed while it waits, the server has already written every record of
// every datagram it received: nothing is left in a buffer.
TEST(Faults, KilledWhileWaitingLosesNothing) {
  if (WindowsServer()) GTEST_SKIP() << "reads the Linux process's state";
  Running run;
  ASSERT_TRUE(run.ready());
  std::string records;
  for (int i = 0; i < 3000; ++i) {
    records += Numbered('k', i);
    run.Send(Numbered('k', i));
  }
  ASSERT_TRUE(Drained(run.server(), run.port()));
  run.server().Kill();
  EXPECT_EQ("", Mismatch(Banner(run.port()) + records,
                         MaskTimestamps(ReadFile(run.log()))));
}

// A datagram of random bytes as the server records it without -t: cut to
// 10000 bytes, then at the first NUL, then the "<13>" header stripped.
std::string RecordOf(const std::string& datagram) {
  std::string text = datagram.substr(0, 10000);
  text = text.substr(0, text.find('\0'));
  if (text.rfind("<13>", 0) == 0) return text.substr(4);
  return text;
}

std::string RandomDatagram(std::mt19937& random, int index) {
  // Mostly short, some up to 10000 bytes, and a few longer than that.
  std::uniform_real_distribution<double> logSize(0.0, std::log(10001.0));
  std::size_t size = static_cast<std::size_t>(std::exp(logSize(random))) - 1;
  if (index % 1000 == 999) size = 10001 + random() % 20000;
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  // A header only where this test puts one, so that it knows the record.
  if (!bytes.empty() && bytes[0] == '<') bytes[0] = 'x';
  if (index % 10 == 0) bytes.insert(0, "<13>");
  return bytes;
}

// 200,000 datagrams of random bytes and sizes: the server stays up, the
// file holds every record in order, and the server's memory does not grow.
TEST(Faults, RandomBurstKeepsEveryRecordAndNoMemory) {
  constexpr int kCount = 200000;
  Running run;
  ASSERT_TRUE(run.ready());
  ServerProcess& server = run.server();
  const auto log = run.log();
  const long residentAtStart = ResidentKiB(server.pid());
  const std::size_t bannerSize = ReadFile(log).size();

  std::mt19937 random(20261207);
  std::size_t expectedSize = bannerSize;
  for (int i = 0; i < kCount; ++i) {
    const std::string datagram = RandomDatagram(random, i);
    expectedSize += OnDisk(RecordOf(datagram)).size();
    run.SendPaced(datagram);
  }
  ASSERT_TRUE(WaitUntil([&] {
    return std::filesystem::file_size(log) >= expectedSize;
  })) << std::filesystem::file_size(log)
      << " of " << expectedSize;
  EXPECT_TRUE(server.Running());

  // Compare record by record, regenerating the same datagrams.
  std::ifstream file(log, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(bannerSize));
  random.seed(20261207);
  for (int i = 0; i < kCount; ++i) {
    const std::string expected = OnDisk(RecordOf(RandomDatagram(random, i)));
    std::string actual(expected.size(), '\0');
    file.read(actual.data(), static_cast<std::streamsize>(actual.size()));
    ASSERT_EQ("", Mismatch(expected, actual)) << "record " << i;
  }
  EXPECT_EQ(expectedSize, std::filesystem::file_size(log));

  if (!Launched() && !Sanitized()) {
    const long residentAfter = ResidentKiB(server.pid());
    RecordProperty("resident_kib_after_start", std::to_string(residentAtStart));
    RecordProperty("resident_kib_after_burst", std::to_string(residentAfter));
    EXPECT_LT(residentAfter - residentAtStart, 400)
        << residentAtStart << " KiB after start-up, " << residentAfter
        << " KiB after the burst";
  }
}

// A log file on a file system that fills up: what finds no room waits in
// memory (8 MiB at most) and reaches the file once there is room, so every
// record in the file is whole and in order, and those beyond are missing
// whole. Standard error says when the disk filled, how many records were
// lost when writing resumes, and, at a stop on a full disk, how many never
// reached the file.
TEST(Faults, FullFileSystemKeepsRecordsWhole) {
  TempDir dir;
  const auto small = dir.path() / "small";
  std::filesystem::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): "
                 << std::strerror(errno);
  }
  struct Unmount {
    std::filesystem::path path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  GiveToServer(small);
  const int port = FreeUdpPort();
  ServerProcess server({"-p", std::to_string(port), "-o", "small/test.log"},
                       dir.path());
  ASSERT_TRUE(WaitForBanner(small / "test.log"));
  const auto fill = [&] {
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  };
  fill();
  // 300 KB that memory holds, then 9 MB that it does not; numbered, so that
  // a torn record shows.
  const auto record = [](int i) {
    return std::string(i < 300 ? 992 : 9992, '.') + Numbered('f', i);
  };
  constexpr int kCount = 1200;
  UdpSocket sender;
  for (int i = 0; i < kCount; ++i) SendPaced(sender, port, record(i));
  const std::string full = OnDisk(
      "syslog-listen: the disk is full: cannot write to the log file "
      "small/test.log; records wait in memory until there is room\n");
  ASSERT_TRUE(WaitUntil([&] { return server.Reports() == full; }))
      << server.Reports();

  std::filesystem::remove(small / "filler");
  sender.SendTo(port, "room again\n");
  std::string text;
  ASSERT_TRUE(WaitUntil([&] {
    text = ReadFile(small / "test.log");
    return text.ends_with(OnDisk("room again\n"));
  })) << text.size();
  std::size_t at = RealSize(OnDisk(Banner(port)));
  int kept = 0;
  for (int i = 0; i < kCount; ++i) {
    const std::string expected = OnDisk(record(i));
    if (text.compare(at, expected.size(), expected) == 0) {
      at += expected.size();
      ++kept;
    } else {
      ASSERT_GE(i, 300) << "record " << i << " is missing or torn";
    }
  }
  EXPECT_EQ("", Mismatch(OnDisk("room again\n"), text.substr(at)));
  const std::string resumed = OnDisk(
      "syslog-listen: writing to the log file small/test.log again; " +
      syslog_listen::GroupedDecimal(kCount - kept) +
      " records lost while it took none (more than memory holds)\n");
  EXPECT_TRUE(WaitUntil([&] { return server.Reports() == full + resumed; }))
      << server.Reports();

  // Full again, and the log deleted to make room: the record that waited
  // goes whole to a new file of that name. Then full for good.
  std::string reports = full + resumed;
  for (const char* end : {"deleted", "stop"}) {
    // Wine shows the mount point in the name as a link, which a reopen
    // refuses.
    if (*end == 'd' && WindowsServer()) continue;
    fill();
    const std::string waiting(4096, *end);  // more than a page's rest
    sender.SendTo(port, waiting);
    reports += full;
    ASSERT_TRUE(WaitUntil([&] { return server.Reports() == reports; }))
        << server.Reports();
    if (*end == 's') break;
    std::filesystem::remove(small / "test.log");
    EXPECT_EQ(OnDisk(waiting), WaitForSize(small / "test.log", 4096));
    reports += OnDisk(
        "syslog-listen: the log file small/test.log was deleted or renamed "
        "while records waited for room; they go into a new file of that name\n"
        "syslog-listen: writing to the log file small/test.log again; no "
        "record was lost\n");
  }
  server.Signal(WindowsServer() ? SIGINT : SIGTERM);
  ASSERT_TRUE(server.WaitForStatus().has_value()) << "still running";
  EXPECT_EQ(reports +
                OnDisk("syslog-listen: 1 record could not be written to the "
                       "log file small/test.log before the end\n"
                       "syslog-listen: stopped after <time>; received " +
                       std::string(WindowsServer()
                                       ? "1,202 datagrams (9,304,107 bytes)\n"
                                       : "1,203 datagrams (9,308,203 bytes)\n")),
            MaskRunTime(server.Reports()));
}

// Copy-and-truncate rotation while records arrive. The server is held
// still between the copy and the truncation, so that no record can fall
// into that window (a limit of the method, not of the server); records keep
// arriving meanwhile. Nothing may be lost, and no record may be written at
// an offset from before the truncation, which would leave a hole of NULs.
TEST(Faults, CopyTruncateRotationLosesNothing) {
  if (WindowsServer()) {
    // Windows appends atomically through an append-only handle; wine
    // emulates one by seeking to the end before each write, and a process
    // stopped between the two races the truncation.
    GTEST_SKIP() << "wine's append-only handles are not atomic";
  }
  constexpr int kCount = 20000;
  constexpr int kRotations = 4;
  Running run;
  ASSERT_TRUE(run.ready());
  const auto log = run.log();
  std::vector<std::filesystem::path> parts;
  for (int i = 0; i < kCount; ++i) {
    run.SendPaced(Numbered('r', i));
    if (i % (kCount / (kRotations + 1)) != kCount / (kRotations + 1) - 1) {
      continue;
    }
    run.server().Signal(SIGSTOP);
    // Datagrams that arrive while the file is rotated queue up.
    for (int j = 0; j < 100 && ++i < kCount; ++j) run.Send(Numbered('r', i));
    const auto part = run.dir() / ("test.log." + std::to_string(parts.size()));
    std::filesystem::copy_file(log, part);
    std::filesystem::resize_file(log, 0);
    parts.push_back(part);
    run.server().Signal(SIGCONT);
  }
  parts.push_back(log);
  std::string all;
  ASSERT_TRUE(WaitUntil([&] {
    all.clear();
    for (const auto& part : parts) all += ReadFile(part);
    return all.find(OnDisk(Numbered('r', kCount - 1))) != std::string::npos;
  }));
  EXPECT_EQ(std::string::npos, all.find('\0')) << "a hole of NULs";
  std::string expected = Banner(run.port());
  for (int i = 0; i < kCount; ++i) expected += Numbered('r', i);
  EXPECT_EQ("", Mismatch(OnDisk(expected), MaskTimestamps(all)));
}

// Only a terminal gets a message's control characters escaped (C0 and DEL
// in caret notation, the UTF-8 forms of C1 as \u0080 to \u009F, also from
// two datagrams, a lone CR as ^M); a pipe gets the raw bytes, as the log
// file always does.
TEST(Faults, ControlCharactersReachATerminalOnlyEscaped) {
  // The last two make a CSI between them, where records run together.
  const std::string sent[] = {"<13>\x1b]0;owned\x07\x1b[2Jhi\x7f\n",
                              std::string("tab\there\r\n\x01\x9b\xc3\xa9\n"),
                              "\xc2\x9b"
                              "2J\xc2\x9d"
                              "0;t\xc2\x9c ok\rforged\n",
                              "A\xc2",
                              "\x9b"
                              "31mRED\n"};
  const std::string raw =
      "\x1b]0;owned\x07\x1b[2Jhi\x7f\ntab\there\r\n\x01\x9b\xc3\xa9\n"
      "\xc2\x9b"
      "2J\xc2\x9d"
      "0;t\xc2\x9c ok\rforged\nA\xc2\x9b"
      "31mRED\n";
  const std::string escaped =
      "^[]0;owned^G^[[2Jhi^?\ntab\there\r\n^A\x9b\xc3\xa9\n"
      "\\u009B2J\\u009D0;t\\u009C ok^Mforged\nA\\xC2\x9b"
      "31mRED\n";
  for (Stdout console : {Stdout::kPipe, Stdout::kTerminal}) {
    // A pseudo-terminal is no Windows console.
    if (console == Stdout::kTerminal && WindowsServer()) continue;
    Running run({}, console);
    ASSERT_TRUE(run.ready());
    for (const std::string& datagram : sent) run.Send(datagram);
    const std::string banner = Banner(run.port());
    const std::string shown =
        OnDisk(banner + (console == Stdout::kTerminal ? escaped : raw));
    std::string consoleText;
    EXPECT_TRUE(WaitUntil([&] {
      return (consoleText = MaskTimestamps(run.server().ConsoleText())) ==
             shown;
    })) << static_cast<int>(console)
        << ": " << consoleText;
    EXPECT_EQ(
        OnDisk(banner + raw),
        MaskTimestamps(WaitForSize(run.log(), RealSize(OnDisk(banner + raw)))));
  }
}

// On a terminal that shows colours, a record with a header has its
// severity's colour, reset before its line end; one without a header, or
// informational, has none. The title counts what arrived, and goes back to
// the user's at the end. NO_COLOR, or a pipe, gets no colour; a pipe no
// title; the file never either.
TEST(Faults, ATerminalShowsSeverityColoursAndCountsInItsTitle) {
  if (WindowsServer()) GTEST_SKIP() << "wine's console renders them itself";
  // A second stop signal, which ends the server at once, still gives the
  // title back: both arrive together.
  const struct {
    Stdout console;
    const char* noColour;
    bool coloured;
    std::vector<int> signals;
  } cases[] = {{Stdout::kTerminal, "NO_COLOR=", true, {SIGTERM}},
               {Stdout::kTerminal, "NO_COLOR=1", false, {SIGINT, SIGTERM}},
               {Stdout::kPipe, "NO_COLOR=", false, {SIGTERM}}};
  for (const auto& c : cases) {
    TempDir dir;
    const int port = FreeUdpPort();
    ChildProcess server(Behind({"env", "TERM=xterm", c.noColour}, port),
                        dir.path(), c.console, "");
    ASSERT_TRUE(WaitForBanner(dir.path() / "test.log"));
    UdpSocket sender;
    sender.SendTo(port, "<11>boom\n");
    sender.SendTo(port, "<14>fine\n");
    const bool titled = c.console == Stdout::kTerminal;
    const std::string title = "\x1b]2;syslog-listen :" + std::to_string(port) +
                              " \u00b7 2 received\a";
    const std::string records =
        c.coloured ? "\x1b[31mboom\x1b[0m\nfine\n" : "boom\nfine\n";
    std::string shown;
    EXPECT_TRUE(WaitUntil([&] {
      shown = server.ConsoleText();
      return shown.find(records) != std::string::npos &&
             (!titled || shown.find(title) != std::string::npos);
    })) << c.noColour
        << ": " << shown;
    server.Signal(SIGSTOP);
    for (const int signal : c.signals) server.Signal(signal);
    server.Signal(SIGCONT);
    EXPECT_TRUE(server.WaitForStatus().has_value());
    shown = server.ConsoleText();
    EXPECT_EQ(titled, shown.ends_with("\x1b[23;2t")) << shown;
    if (!titled) {
      EXPECT_EQ(std::string::npos, shown.find('\x1b')) << shown;
    }
    EXPECT_EQ(Banner(port) + "boom\nfine\n",
              MaskTimestamps(ReadFile(dir.path() / "test.log")));
  }
}

// A console that nobody reads (a paused pager, say) costs the file nothing:
// it gets every record, in order, once. Read again, the console shows the
// records from before the gap, then, at that point of the stream, the notice
// on standard error (which shares the pipe, as with 2>&1) with the number it
// skipped, then the records that came later.
TEST(Faults, AConsoleNobodyReadsCostsTheFileNothing) {
  Running run({}, Stdout::kPipeWithErrors);
  ASSERT_TRUE(run.ready());
  constexpr int kCount = 4000;  // of 10000 bytes: more than the console queues
  const auto record = [](int i) {
    return std::string(9992, '.') + Numbered('c', i);
  };
  std::string records;
  for (int i = 0; i < kCount; ++i) {
    records += record(i);
    run.SendPaced(record(i));
  }
  const std::string banner = Banner(run.port());
  const std::string file = OnDisk(banner + records);
  EXPECT_EQ(
      "",
      Mismatch(file, MaskTimestamps(WaitForSize(run.log(), RealSize(file)))));
  const bool measurable = !Launched() && !Sanitized();
  if (measurable) {
    EXPECT_LT(ResidentKiB(run.server().pid()), 38 * 1024);
  }

  const std::string notice =
      " records not shown on the console (it fell behind); the log file has "
      "them all\n";
  // Polled raw, and only what came since the last look: copying or
  // scanning megabytes on every poll would slow the reading.
  std::size_t from = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const std::string& shown = run.server().ConsoleText();
    const bool found = shown.find(OnDisk(notice), from) != std::string::npos;
    from = shown.size() > 1024 ? shown.size() - 1024 : 0;
    return found;
  })) << from
      << " bytes on the console";
  std::string console = WithoutMachineDrops(run.server().ConsoleText());
  const std::size_t recordsShown =
      (console.find("syslog-listen: ") - RealSize(OnDisk(banner))) /
      OnDisk(record(0)).size();
  EXPECT_GT(recordsShown, 0u);
  EXPECT_LT(recordsShown, static_cast<std::size_t>(kCount));
  // Caught up, the server has handed the backlog's memory back.
  if (measurable) {
    EXPECT_LT(ResidentKiB(run.server().pid()), 4 * 1024);
  }
  run.Send("later\n");
  const std::string expected =
      OnDisk(banner + records.substr(0, recordsShown * record(0).size()) +
             "syslog-listen: " + syslog_listen::GroupedDecimal(kCount - recordsShown) +
             notice + "later\n");
  EXPECT_TRUE(WaitUntil([&] {
    console = WithoutMachineDrops(run.server().ConsoleText());
    return console.size() >= RealSize(expected);
  }));
  EXPECT_EQ("", Mismatch(expected, MaskTimestamps(console)));
}

// A terminal that takes nothing more (Ctrl+S, a frozen ssh session), with
// a title to give back and standard error on it too or not, holds up a stop
// by no more than about a second. The account counts every record the
// terminal did not get whole.
TEST(Faults, AStopIsBoundedWhateverTheTerminalDoes) {
  if (WindowsServer()) GTEST_SKIP() << "a pseudo-terminal is no console";
  for (Stdout console : {Stdout::kTerminalWithErrors, Stdout::kTerminal}) {
    TempDir dir;
    const int port = FreeUdpPort();
    ChildProcess server(Behind({"env", "TERM=xterm"}, port), dir.path(),
                        console, "");
    ASSERT_TRUE(WaitForBanner(dir.path() / "test.log"));
    UdpSocket sender;
    constexpr int kCount = 3000;  // far more than the terminal holds
    std::string records;
    for (int i = 0; i < kCount; ++i) {
      records += std::string(92, '.') + Numbered('s', i);
      SendPaced(sender, port, records.substr(records.size() - 100));
    }
    WaitForSize(dir.path() / "test.log", RealSize(Banner(port) + records));
    server.Signal(SIGTERM);
    ASSERT_TRUE(server.WaitForStatus().has_value()) << "still running";
    if (console == Stdout::kTerminalWithErrors) continue;
    // Whole records end in a line feed; the banner is one more.
    const std::string shown = server.ConsoleText();
    const auto whole = std::count(shown.begin(), shown.end(), '\n') - 1;
    const std::string account = server.ErrorText();
    const std::size_t end = account.find(" records not shown");
    ASSERT_NE(std::string::npos, end) << account;
    const std::size_t start = account.rfind(' ', end - 1) + 1;
    std::string digits = account.substr(start, end - start);
    std::erase(digits, ',');
    EXPECT_LE(kCount, whole + std::stol(digits)) << account;
  }
}

// Started with SIGHUP and SIGINT ignored (nohup; a script's background
// job), the server leaves them ignored and runs on; SIGTERM still stops it,
// and is what ended it.
TEST(Faults, SignalsIgnoredAtStartStayIgnored) {
  if (WindowsServer()) GTEST_SKIP() << "POSIX signals";
  TempDir dir;
  ChildProcess server(
      Behind({"sh", "-c", "trap '' HUP INT; exec \"$@\"", "sh"}, FreeUdpPort()),
      dir.path(), Stdout::kFile, "");
  ASSERT_TRUE(WaitForBanner(dir.path() / "test.log"));
  server.Signal(SIGHUP);
  server.Signal(SIGINT);
  server.Signal(SIGTERM);
  const std::optional<int> status = server.WaitForStatus();
  ASSERT_TRUE(status.has_value()) << "still running";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
      << "status " << *status;
}

// With standard output a pipe that nobody reads (a pager waiting for a
// key), the server's reports still reach standard error, and a stop ends
// the server all the same.
TEST(Faults, ReportsDoNotWaitForAStalledConsole) {
  Running run({}, Stdout::kPipe);
  ASSERT_TRUE(run.ready());
  // More than the pipe holds: the console's writer waits from here on.
  for (int i = 0; i < 200; ++i) {
    run.SendPaced(std::string(992, '.') + Numbered('p', i));
  }
  run.server().Signal(SIGSTOP);
  for (int i = 0; i < 100000; ++i) run.Send(Numbered('d', i));
  run.server().Signal(SIGCONT);
  EXPECT_TRUE(WaitUntil([&] {
    return run.server().ErrorText().find(" dropped ") != std::string::npos;
  })) << run.server().ErrorText();
  run.server().Signal(WindowsServer() ? SIGINT : SIGTERM);
  EXPECT_TRUE(run.server().WaitForStatus().has_value()) << "still running";
}

// Started as root, the server gives up root once the socket is bound and the
// banner written, and goes on logging to the file it opened as root.
TEST(Faults, RootIsDroppedAfterStartUp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (WindowsServer()) GTEST_SKIP() << "reads the Linux process's state";
  Running run;
  ASSERT_TRUE(run.ready());
  const std::string status =
      "/proc/" + std::to_string(run.server().pid()) + "/status";
  std::string ids;
  EXPECT_TRUE(WaitUntil([&] {
    ids.clear();
    std::ifstream in(status);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("Uid:", 0) == 0 || line.rfind("Gid:", 0) == 0 ||
          line.rfind("Groups:", 0) == 0) {
        while (line.back() == ' ') line.pop_back();
        ids += line + "\n";
      }
    }
    return ids ==
           "Uid:\t65534\t65534\t65534\t65534\n"
           "Gid:\t65534\t65534\t65534\t65534\n"
           "Groups:\t\n";
  })) << ids;
  run.Send("after the drop\n");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(run.log()).find("after the drop\n") != std::string::npos;
  }));
  EXPECT_EQ("", run.server().ErrorText());
}

// Started as the service starts it, as a user granted only the binding of
// a low port and the sizing of the receive queue, the server gets the queue
// a root start gets (a burst it sleeps through loses nothing), and holds no
// capability once running.
TEST(Faults, AServiceStartHasTheFullQueueAndNoCapabilityLeft) {
  if (geteuid() != 0 || WindowsServer() || Launched()) {
    GTEST_SKIP() << "needs root, to grant capabilities, and a Linux server";
  }
  TempDir dir;
  const int port = FreeUdpPort();
  const std::string caps = "+net_admin,+net_bind_service";
  ChildProcess server(
      Behind({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
              "--inh-caps=" + caps, "--ambient-caps=" + caps, "--"},
             port),
      dir.path(), Stdout::kFile, "");
  ASSERT_TRUE(WaitForBanner(dir.path() / "test.log"));
  // Every thread's: a capability is held per thread.
  const std::string none =
      "CapInh:\t0000000000000000\nCapPrm:\t0000000000000000\n"
      "CapEff:\t0000000000000000\nCapAmb:\t0000000000000000\n";
  std::string held;
  EXPECT_TRUE(WaitUntil([&] {
    held.clear();
    const std::filesystem::path tasks =
        "/proc/" + std::to_string(server.pid()) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
      std::ifstream status(task.path() / "status");
      std::string sets;
      for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Cap") && !line.starts_with("CapBnd")) {
          sets += line + "\n";
        }
      }
      if (sets != none) held += task.path().filename().string() + ":\n" + sets;
    }
    return held.empty();
  })) << held;
  server.Signal(SIGSTOP);
  UdpSocket sender;
  for (int i = 0; i < 3000; ++i) sender.SendTo(port, Numbered('q', i));
  EXPECT_EQ(0, DroppedAt(port));
  server.Signal(SIGCONT);
}

// Started as root with its log in a directory closed to nobody,
// the server cannot follow the log's name once it is nobody: it says so
// once, at start, and never that it cannot reopen the file, which was not
// rotated. Stopped, it has written every report it had.
TEST(Faults, ANameNobodyMayNotSeeIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (WindowsServer()) GTEST_SKIP() << "no switch to nobody on Windows";
  TempDir dir;
  const auto closed = dir.path() / "closed";
  std::filesystem::create_directory(closed);
  std::filesystem::permissions(closed, std::filesystem::perms::owner_all);
  const int port = FreeUdpPort();
  ServerProcess server({"-p", std::to_string(port), "-o", "closed/test.log"},
                       dir.path());
  ASSERT_TRUE(WaitForBanner(closed / "test.log"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  UdpSocket().SendTo(port, "later\n");
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(closed / "test.log").find("later\n") != std::string::npos;
  }));
  server.Signal(SIGTERM);
  EXPECT_TRUE(server.WaitForStatus().has_value());
  EXPECT_EQ(
      "syslog-listen: the log file closed/test.log will not be followed if it "
      "is renamed or deleted: the user the server runs as may not look into "
      "its directory\n"
      "syslog-listen: stopped after <time>; received 1 datagram (6 bytes)\n",
      MaskRunTime(server.ErrorText()));
}

}  // namespace
}  // namespace e2e
