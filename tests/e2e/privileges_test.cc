// End-to-end: what the server inherits from whoever starts it (root, a
// service's capabilities, ignored signals), what it gives up, what it keeps.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "support/harness.h"

namespace e2e {
namespace {

// Started as root, the server gives up root once the socket is bound and the
// banner written, without a word (that it goes on logging to the file it
// opened as root, every test run as root shows).
TEST(Privileges, RootIsDroppedAfterStartUp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (WindowsServer()) GTEST_SKIP() << "reads the Linux process's state";
  Running run;
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
  EXPECT_EQ("", run.server().Reports());
}

// Started as the service starts it, as a user granted only the binding of
// a low port and the sizing of the receive queue, the server gets the queue
// a root start gets (a burst it sleeps through loses nothing), and holds no
// capability once running.
TEST(Privileges, AServiceStartHasTheFullQueueAndNoCapabilityLeft) {
  if (geteuid() != 0 || WindowsServer() || Launched()) {
    GTEST_SKIP() << "needs root, to grant capabilities, and a Linux server";
  }
  const std::string caps = "+net_admin,+net_bind_service";
  Running run({}, Stdout::kFile,
              {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
               "--inh-caps=" + caps, "--ambient-caps=" + caps, "--"});
  ChildProcess& server = run.server();
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
  for (int i = 0; i < 3000; ++i) run.Send(Numbered('q', i));
  EXPECT_EQ(0, DroppedAt(run.port()));
  server.Signal(SIGCONT);
}

// Started as root with its log in a directory closed to nobody,
// the server cannot follow the log's name once it is nobody: it says so
// once, at start, and never that it cannot reopen the file, which was not
// rotated. Stopped, it has written every report it had.
TEST(Privileges, ANameNobodyMayNotSeeIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (WindowsServer()) GTEST_SKIP() << "no switch to nobody on Windows";
  TempDir dir;
  const auto closed = dir.path() / "closed";
  std::filesystem::create_directory(closed);
  std::filesystem::permissions(closed, std::filesystem::perms::owner_all);
  const int port = FreeUdpPort();
  ChildProcess server(
      ServerCommand({"-p", std::to_string(port), "-o", "closed/test.log"}),
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
      MaskRunTime(server.Reports()));
}

// Started with SIGHUP and SIGINT ignored (nohup; a script's background
// job), the server leaves them ignored and runs on; SIGTERM still stops it,
// and is what ended it.
TEST(Privileges, SignalsIgnoredAtStartStayIgnored) {
  if (WindowsServer()) GTEST_SKIP() << "POSIX signals";
  Running run({}, Stdout::kFile,
              {"sh", "-c", "trap '' HUP INT; exec \"$@\"", "sh"});
  ChildProcess& server = run.server();
  server.Signal(SIGHUP);
  server.Signal(SIGINT);
  server.Signal(SIGTERM);
  const std::optional<int> status = server.WaitForStatus();
  ASSERT_TRUE(status.has_value()) << "still running";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
      << "status " << *status;
}

}  // namespace
}  // namespace e2e
