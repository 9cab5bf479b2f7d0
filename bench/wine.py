#!/usr/bin/env python3
"""Measures the Windows build under wine beside the simplest Winsock receiver
(win_minimal.exe) and, where given, an earlier Windows build.

    bench/wine.py --tools DIR --exe EXE --minimal EXE [--before EXE]
                  [--repeat K] [--quick]

Under wine every receive, wait and hand-off between threads is a round trip
to the wineserver, so what a receiver keeps at a given rate follows whatever
else the machine runs. The steady figure is the cost per datagram: CPU
seconds of the receiving process and of the prefix's wineserver, per
datagram kept, of 50,000 at 5,000 a second (a rate every receiver
sustains), sent one at a time and in bursts of 64, medians of K runs taking
turns. For information, what each keeps of 100,000 datagrams sent one at a
time at 10k, 20k and 30k a second, and at full speed (single runs).
The server's console goes to a file, or to a pipe that is read.

Builds nothing itself: bench/run.sh --wine builds first. The wine prefix
lives in the --tools directory.
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from run import count, cpu_seconds, free_port, send, udp_bound

WINESERVER = next((p for p in ("/usr/lib/wine/wineserver64",
                                "/usr/lib/wine/wineserver") if os.path.exists(p)),
                  "wineserver")


class Prefix:
    """A wine prefix of the bench's own, with a wineserver we can measure."""

    def __init__(self, path):
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all")
        if not os.path.exists(os.path.join(path, "system.reg")):
            subprocess.run(["wine", "wineboot", "--init"], env=self.env,
                           check=True, capture_output=True)
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True)
        # In the foreground, so that its pid is ours; persistent, so that it
        # outlives each receiver.
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env)
        time.sleep(0.5)

    def close(self):
        self.server.send_signal(signal.SIGTERM)
        self.server.wait()


class Drain(threading.Thread):
    def __init__(self, fd):
        super().__init__(daemon=True)
        self.fd = fd

    def run(self):
        while os.read(self.fd, 1 << 20):
            pass


def run_once(prefix, tools, command, console, count_, size, rate, batch):
    with tempfile.TemporaryDirectory() as workdir:
        port = free_port()
        log = os.path.join(workdir, "out.log")
        stdout, ours = None, None
        if console == "pipe":
            ours, stdout = os.pipe()
            Drain(ours).start()
        else:
            stdout = open(os.path.join(workdir, "console.out"), "wb")
        proc = subprocess.Popen(["wine"] + command(port, log), cwd=workdir,
                                env=prefix.env, stdout=stdout,
                                stderr=subprocess.DEVNULL)
        if console == "pipe":
            os.close(stdout)
        try:
            deadline = time.time() + 30
            while not udp_bound(port):
                if time.time() > deadline or proc.poll() is not None:
                    raise RuntimeError("%s did not start" % command(port, log))
                time.sleep(0.05)
            time.sleep(0.5)
            pids = [proc.pid, prefix.server.pid]
            cpu0 = [cpu_seconds(p) for p in pids]
            send(tools, port, count_, size, rate=rate, batch=batch)
            size_then, still = -1, 0
            while still < 10:  # until the file stops growing
                time.sleep(0.05)
                now = os.path.getsize(log) if os.path.exists(log) else 0
                still = still + 1 if now == size_then else 0
                size_then = now
            cpu = [cpu_seconds(p) - c for p, c in zip(pids, cpu0)]
            kept = count(tools, count_, log)["received"]
            return {"kept": kept / count_,
                    "us_per_datagram": sum(cpu) / max(kept, 1) * 1e6,
                    "wineserver_share": cpu[1] / max(sum(cpu), 1e-9)}
        finally:
            proc.kill()
            proc.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tools", required=True,
                        help="the Linux build's bench directory (loadgen, counter)")
    parser.add_argument("--exe", required=True)
    parser.add_argument("--minimal", required=True)
    parser.add_argument("--before")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--quick", action="store_true",
                        help="the costs at 5,000/s only")
    args = parser.parse_args()

    def server(exe):
        exe = os.path.abspath(exe)
        return lambda p, log: [exe, "-p", str(p), "-o", log]

    minimal = os.path.abspath(args.minimal)
    receivers = [("minimal loop", lambda p, log: [minimal, str(p), log]),
                 ("syslog-listen.exe", server(args.exe))]
    if args.before:
        receivers.append(("before", server(args.before)))
    prefix = Prefix(os.path.join(os.path.abspath(args.tools), "wineprefix"))
    try:
        for console in ("file", "pipe"):
            costs = {(name, batch): [] for name, _ in receivers for batch in (1, 64)}
            for turn in range(args.repeat):
                for batch in (1, 64):
                    for name, command in receivers:
                        costs[name, batch].append(run_once(
                            prefix, args.tools, command, console, 50000, 100,
                            5000, batch))
                        r = costs[name, batch][-1]
                        print("%s, 5000/s by %d, %d/%d: %s: %.0f us, %.0f%% in"
                              " the wineserver" % (
                                  console, batch, turn + 1, args.repeat, name,
                                  r["us_per_datagram"],
                                  100 * r["wineserver_share"]),
                              file=sys.stderr)
            rates = () if args.quick else (10000, 20000, 30000, 0)
            kept = {(name, rate): run_once(prefix, args.tools, command, console,
                                           100000, 100, rate,
                                           1 if rate else 64)["kept"]
                    for name, command in receivers for rate in rates}
            print("console to a %s; 100-byte datagrams; cost: CPU of the"
                  " receiver and the wineserver per datagram kept at 5,000/s"
                  " (us), sent one at a time and in bursts of 64; median of"
                  " %d (range); ratio to the minimal loop" % (console,
                                                               args.repeat))
            head = "%-18s %18s %6s %18s %6s %8s" % (
                "receiver", "one at a time", "ratio", "bursts of 64", "ratio",
                "kept@5k")
            head += "".join(" %7s" % ("%dk/s" % (r // 1000) if r else "full")
                            for r in rates)
            print(head)
            for name, _ in receivers:
                line = "%-18s" % name
                for batch in (1, 64):
                    us = [r["us_per_datagram"] for r in costs[name, batch]]
                    base = statistics.median(
                        r["us_per_datagram"] for r in costs["minimal loop", batch])
                    line += " %6.0f (%4.0f-%4.0f) %6.2f" % (
                        statistics.median(us), min(us), max(us),
                        statistics.median(us) / base)
                line += " %7.1f%%" % (100 * min(
                    r["kept"] for batch in (1, 64) for r in costs[name, batch]))
                line += "".join(" %6.1f%%" % (100 * kept[name, rate])
                                for rate in rates)
                print(line)
            print()
    finally:
        prefix.close()


if __name__ == "__main__":
    main()
