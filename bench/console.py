#!/usr/bin/env python3
"""Measures what a slow or paused console costs: the server with its standard
output on a terminal (a tmux pane), on a pseudo-terminal or a pipe that
nobody reads for a while, on a file and on /dev/null, side by side with an
earlier build.

    bench/console.py [--build DIR] [--before SERVER] [--repeat K]

For every run: the records in the log file (by the deadline and in the end)
against those sent, the records the console showed and those it skipped
(the notices on standard error), whether the server is still alive, its
peak resident size and its CPU time per record sent.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from run import (PIN_RECEIVER, count, cpu_seconds, free_port, peak_rss_kib,
                 send, udp_bound)

NOTICE = re.compile(rb"syslog-listen: (\d+) records not shown on the console")
BANNER_MAX = 80  # a banner line is shorter than this


class Reader(threading.Thread):
    """Copies a descriptor to a file once `start_reading` is set."""

    def __init__(self, fd, path):
        super().__init__(daemon=True)
        self.fd, self.path = fd, path
        self.go = threading.Event()
        self.last = time.time()

    def run(self):
        self.go.wait()
        with open(self.path, "wb") as out:
            while True:
                try:
                    chunk = os.read(self.fd, 1 << 20)
                except OSError:  # a pty whose other end has closed
                    return
                if not chunk:
                    return
                out.write(chunk)
                out.flush()
                self.last = time.time()


class Console:
    """Where the server's standard output goes, and how it is read."""

    def __init__(self, kind, workdir, pause):
        self.kind, self.workdir, self.pause = kind, workdir, pause
        self.capture = os.path.join(workdir, "console.out")
        self.reader = None
        self.stdout = subprocess.DEVNULL
        if kind == "file":
            self.stdout = open(self.capture, "wb")
        elif kind in ("pty", "pipe"):
            if kind == "pty":
                import pty
                ours, theirs = pty.openpty()
            else:
                ours, theirs = os.pipe()
            self.stdout, self.ours = theirs, ours
            self.reader = Reader(ours, self.capture)
            self.reader.start()

    def started(self):
        if self.kind in ("pty", "pipe"):
            os.close(self.stdout)

    def resume(self):
        if self.reader:
            self.reader.go.set()

    def settled(self, quiet=2.0):
        if self.reader:
            return time.time() - self.reader.last > quiet
        return True


def file_records(tools, expected, log):
    return count(tools, expected, log)["received"] if os.path.exists(log) else 0


def skipped(path):
    with open(path, "rb") as f:
        return sum(int(n) for n in NOTICE.findall(f.read()))


def start_plain(server, port, log, workdir, console):
    proc = subprocess.Popen(
        PIN_RECEIVER + [server, "-p", str(port), "-o", log], cwd=workdir,
        stdout=console.stdout, stderr=open(os.path.join(workdir, "err"), "wb"))
    console.started()
    return proc.pid, proc


def start_tmux(server, port, log, workdir, console):
    """The server in a tmux pane; what the pane shows is copied to a file."""
    sock = ["tmux", "-L", "bench-%d" % port]
    go = os.path.join(workdir, "go")
    command = ("while [ ! -e %s ]; do sleep 0.05; done; exec %s %s -p %d -o %s"
               " 2>%s" % (go, " ".join(PIN_RECEIVER), server, port, log,
                          os.path.join(workdir, "err")))
    subprocess.run(sock + ["-f", "/dev/null", "new-session", "-d", "-x", "160",
                           "-y", "50", "sh", "-c", command], check=True)
    subprocess.run(sock + ["pipe-pane", "-o", "cat > %s" % console.capture],
                   check=True)
    open(go, "w").close()
    pid = int(subprocess.run(sock + ["display", "-p", "#{pane_pid}"], check=True,
                             capture_output=True, text=True).stdout)
    console.tmux = sock
    return pid, None


def one_run(tools, server, kind, n, size, rate, pause, deadline):
    with tempfile.TemporaryDirectory() as workdir:
        port = free_port()
        log = os.path.join(workdir, "out.log")
        console = Console(kind, workdir, pause)
        start = start_tmux if kind == "tmux" else start_plain
        pid, proc = start(server, port, log, workdir, console)
        try:
            limit = time.time() + 10
            while not udp_bound(port):
                if time.time() > limit:
                    raise RuntimeError("the server did not start")
                time.sleep(0.01)
            time.sleep(0.2)
            cpu0 = cpu_seconds(pid)
            if kind == "tmux":
                console.resume()
            sent = send(tools, port, n, size, rate=rate)
            last = sent["start"] + sent["seconds"]
            # The file by the deadline, while the console is still paused.
            while time.time() < last + deadline:
                time.sleep(0.01)
            by_deadline = file_records(tools, n, log)
            while time.time() < sent["start"] + pause:
                time.sleep(0.05)
            console.resume()
            # Then until the console has shown what it will.
            limit = time.time() + 300
            while time.time() < limit:
                time.sleep(0.5)
                shown = file_records(tools, n, console.capture) if kind != "null" else 0
                if kind in ("null", "file") or (
                        shown + skipped(os.path.join(workdir, "err")) >= n
                        and console.settled(1.0)) or console.settled(5.0):
                    break
            if kind == "tmux":
                # tmux shows what it reads; give it time to read the rest.
                size_then = -1
                while os.path.getsize(console.capture) != size_then:
                    size_then = os.path.getsize(console.capture)
                    time.sleep(2)
            alive = os.path.exists("/proc/%d" % pid) and (
                proc is None or proc.poll() is None)
            result = {
                "file_by_deadline": by_deadline / n,
                "file": file_records(tools, n, log) / n,
                "shown": file_records(tools, n, console.capture)
                if kind not in ("null", "file") else 0,
                "skipped": skipped(os.path.join(workdir, "err")),
                "alive": alive,
                "rss_kib": peak_rss_kib(pid) if alive else 0,
                "cpu_per_m": (cpu_seconds(pid) - cpu0) / n * 1e6 if alive else 0,
            }
            return result
        finally:
            if kind == "tmux":
                subprocess.run(console.tmux + ["kill-server"])
            elif proc:
                proc.kill()
                proc.wait()


SCENARIOS = [
    # name, console, count, size, rate (0: full speed), pause s, deadline s
    ("terminal, full speed", "tmux", 1000000, 100, 0, 0, 1.0),
    ("pty paused, 20k/s", "pty", 100000, 100, 20000, 7, 1.0),
    ("pty paused, 20k/s, 400 B", "pty", 100000, 400, 20000, 7, 1.0),
    ("pipe paused 8 s, 40k/s", "pipe", 200000, 400, 40000, 8, 1.5),
    # Paced: at full speed the sender's own pace varies from run to run, and
    # the CPU per record with it.
    ("file, 200k/s", "file", 1000000, 100, 200000, 0, 1.0),
    ("/dev/null, 200k/s", "null", 1000000, 100, 200000, 0, 1.0),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--before", help="an earlier build's server")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--only", help="scenarios whose name contains this")
    args = parser.parse_args()
    tools = os.path.join(args.build, "bench")
    builds = [("now", os.path.abspath(os.path.join(args.build, "syslog-listen")))]
    if args.before:
        builds.insert(0, ("before", os.path.abspath(args.before)))
    if not shutil.which("tmux"):
        sys.exit("console.py needs tmux")
    print("%-26s %-6s %9s %7s %7s %8s %11s %5s %8s %8s" % (
        "scenario", "build", "file@dl", "file", "shown", "skipped",
        "shown+skip", "alive", "RSS KiB", "cpu s/M"))
    for name, kind, n, size, rate, pause, deadline in SCENARIOS:
        if args.only and args.only not in name:
            continue
        for build, server in builds:
            runs = [one_run(tools, server, kind, n, size, rate, pause, deadline)
                    for _ in range(args.repeat)]
            r = {k: statistics.median(run[k] for run in runs) for k in runs[0]}
            # Loss and death count in any run, not as a median.
            r["file"] = min(run["file"] for run in runs)
            r["file_by_deadline"] = min(run["file_by_deadline"] for run in runs)
            r["alive"] = all(run["alive"] for run in runs)
            shown_skip = [run["shown"] + run["skipped"] for run in runs]
            print("%-26s %-6s %8.1f%% %6.1f%% %7d %8d %11s %5s %8d %8.3f" % (
                name, build, 100 * r["file_by_deadline"], 100 * r["file"],
                r["shown"], r["skipped"],
                "-" if kind in ("null", "file") else
                "/".join(str(v) for v in sorted(set(shown_skip))),
                "yes" if r["alive"] else "NO", r["rss_kib"], r["cpu_per_m"]))
            sys.stdout.flush()
    print("deadline: 1 s after the last datagram (1.5 s for the pipe); "
          "medians of %d runs, file%% the worst run" % args.repeat)


if __name__ == "__main__":
    main()
