#!/usr/bin/env python3
"""Measures syslog-listen against the plain baseline receiver (and syslog-ng,
where installed) in one run, and prints the figures and their ratios.

    bench/run.py [--build DIR] [--count N] [--size B] [--repeat K] [--quick]
                 [--rate R] [--before SERVER]

Full-speed figures are medians of K runs, the receivers taking turns so that
a slow moment of the machine does not fall on one of them alone.

With --before, the server an earlier build made runs beside this one (and
syslog-ng does not), to compare two builds in one run; --rate paces the
sender, for figures that do not depend on how fast one sender is.

Builds nothing itself: bench/run.sh builds first. Every receiver runs on a
free port on 127.0.0.1 with standard output to /dev/null; loadgen sends
numbered datagrams from one local sender; counter reads the files back.
"""
import argparse
import os
import statistics
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

TICK = os.sysconf("SC_CLK_TCK")

# Sender and receiver each on a core of their own, where there are two and
# taskset is at hand: the scheduler then moves neither, and runs compare.
if os.cpu_count() >= 2 and shutil.which("taskset"):
    PIN_SENDER, PIN_RECEIVER = ["taskset", "-c", "0"], ["taskset", "-c", "1"]
else:
    PIN_SENDER, PIN_RECEIVER = [], []


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def udp_bound(port):
    needle = ":%04X " % port
    with open("/proc/net/udp") as f:
        return any(needle in line.split("rem_address")[0] for line in f)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def descendants(pid):
    """pid and every process below it (syslog-ng runs as two)."""
    found = [pid]
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            if ppid == pid:
                found += descendants(int(entry))
    return found


class Receiver:
    """One receiver process writing to its own file in a fresh directory."""

    def __init__(self, name, command, workdir, port):
        self.name, self.workdir, self.port = name, workdir, port
        self.log = os.path.join(workdir, "out.log")
        self.proc = subprocess.Popen(
            PIN_RECEIVER + command(port, self.log, workdir), cwd=workdir,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(workdir, "err"), "w"))
        deadline = time.time() + 10
        while not udp_bound(port):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("%s did not start" % name)
            time.sleep(0.01)
        time.sleep(0.2)
        self.pids = descendants(self.proc.pid)

    def cpu(self):
        return sum(cpu_seconds(p) for p in self.pids)

    def rss(self):
        return max(peak_rss_kib(p) for p in self.pids)

    def settle(self):
        """Waits until the file stops growing; returns its size."""
        size, still = -1, 0
        while still < 10:
            time.sleep(0.05)
            now = os.path.getsize(self.log) if os.path.exists(self.log) else 0
            still = still + 1 if now == size else 0
            size = now
        return size

    def stop(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait()


def send(tools, port, count, size, rate=0, seconds=120, batch=64):
    out = subprocess.run(
        PIN_SENDER + [os.path.join(tools, "loadgen"), "--port", str(port), "--count", str(count),
         "--size", str(size), "--rate", str(rate), "--seconds", str(seconds),
         "--batch", str(batch)],
        check=True, capture_output=True, text=True).stdout
    return dict((k, float(v)) for k, v in (kv.split("=") for kv in out.split()))


def count(tools, expected, path):
    out = subprocess.run([os.path.join(tools, "counter"), str(expected), path],
                         check=True, capture_output=True, text=True).stdout
    return dict((k, int(v)) for k, v in (kv.split("=") for kv in out.split()))


def full_speed(tools, name, command, args):
    with tempfile.TemporaryDirectory() as workdir:
        port = free_port()
        r = Receiver(name, command, workdir, port)
        try:
            cpu0 = r.cpu()
            sent = send(tools, port, args.count, args.size, rate=args.rate)
            r.settle()
            cpu = r.cpu() - cpu0
            got = count(tools, args.count, r.log)
            last_write = os.stat(r.log).st_mtime_ns / 1e9
            elapsed = max(last_write - sent["start"], sent["seconds"])
            return {
                "sent_rate": sent["rate"],
                "records_per_s": got["received"] / elapsed,
                "received": got["received"] / args.count,
                "lost": got["lost"], "dup": got["duplicated"],
                "reordered": got["reordered"],
                "cpu_per_m": cpu / max(got["received"], 1) * 1e6,
                "rss_kib": r.rss(),
            }
        finally:
            r.stop()


def paced(tools, name, command, args, rates):
    """Highest rate of `rates` (ascending) that loses nothing."""
    best = 0.0
    for rate in rates:
        with tempfile.TemporaryDirectory() as workdir:
            port = free_port()
            r = Receiver(name, command, workdir, port)
            try:
                n = int(min(args.paced_count, rate * 2))
                sent = send(tools, port, n, args.size, rate=rate)
                r.settle()
                got = count(tools, n, r.log)
            finally:
                r.stop()
        if got["lost"] or got["received"] != n:
            break
        best = max(best, sent["rate"])
        if sent["rate"] < rate * 0.97:
            break  # the sender's own limit: higher rates cannot be reached
    return best


def syslog_ng_command(port, log, workdir):
    conf = os.path.join(workdir, "syslog-ng.conf")
    with open(conf, "w") as f:
        f.write('@version: 3.38\n'
                'source s { network(ip("127.0.0.1") port(%d) transport("udp")); };\n'
                'destination d { file("%s" template("${MSGHDR}${MESSAGE}\\n")); };\n'
                'log { source(s); destination(d); };\n' % (port, log))
    return ["syslog-ng", "--foreground", "--no-caps", "--cfgfile", conf,
            "--persist-file", os.path.join(workdir, "persist"),
            "--pidfile", os.path.join(workdir, "pid"),
            "--control", os.path.join(workdir, "ctl")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--count", type=int, default=1000000)
    parser.add_argument("--paced-count", type=int, default=1000000)
    parser.add_argument("--size", type=int, default=100)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--quick", action="store_true",
                        help="full-speed runs only, no paced search")
    parser.add_argument("--rate", type=float, default=0,
                        help="datagrams a second for the main runs (0: full speed)")
    parser.add_argument("--before", help="an earlier build's server to run beside")
    args = parser.parse_args()
    tools = os.path.join(args.build, "bench")
    server = os.path.abspath(os.path.join(args.build, "syslog-listen"))
    baseline = os.path.abspath(os.path.join(tools, "baseline"))
    receivers = [
        ("baseline", lambda p, log, d: [baseline, str(p), log]),
        ("syslog-listen", lambda p, log, d: [server, "-p", str(p), "-o", log]),
        ("syslog-listen -t", lambda p, log, d: [server, "-p", str(p), "-o", log, "-t"]),
    ]
    if args.before:
        before = os.path.abspath(args.before)
        receivers += [
            ("before", lambda p, log, d: [before, "-p", str(p), "-o", log]),
            ("before -t", lambda p, log, d: [before, "-p", str(p), "-o", log, "-t"]),
        ]
    elif shutil.which("syslog-ng"):
        receivers.append(("syslog-ng", syslog_ng_command))
    else:
        print("syslog-ng is not installed; measuring without it", file=sys.stderr)
    rates = [200000, 400000, 600000, 800000, 1000000, 1200000, 1500000, 2000000]

    runs = {name: [] for name, _ in receivers}
    for turn in range(args.repeat):
        for name, command in receivers:
            runs[name].append(full_speed(tools, name, command, args))
            print("full speed %d/%d: %s" % (turn + 1, args.repeat, name),
                  file=sys.stderr)
    results = {}
    for name, command in receivers:
        results[name] = {key: statistics.median(run[key] for run in runs[name])
                         for key in runs[name][0]}
        # Loss is summed, not a median: any loss in any run counts.
        for key in ("lost", "dup", "reordered"):
            results[name][key] = sum(run[key] for run in runs[name])
        results[name]["received"] = min(run["received"] for run in runs[name])
        if not args.quick:
            results[name]["paced"] = paced(tools, name, command, args, rates)
            print("paced: %s" % name, file=sys.stderr)

    base = results["baseline"]
    print("%d datagrams of %d bytes, one local sender; stdout to /dev/null;"
          " medians of %d runs (kept: the worst run; lost/dup/ro: all runs)"
          % (args.count, args.size, args.repeat))
    head = "%-18s %12s %9s %6s %10s %9s %9s %11s" % (
        "receiver", "records/s", "ratio", "kept", "lost/dup/ro", "cpu s/M",
        "ratio", "peak RSS KiB")
    if not args.quick:
        head += " %12s" % "paced 0-loss"
    print(head)
    for name, r in results.items():
        line = "%-18s %12.0f %9.3f %6.4f %10s %9.3f %9.3f %11d" % (
            name, r["records_per_s"], r["records_per_s"] / base["records_per_s"],
            r["received"], "%d/%d/%d" % (r["lost"], r["dup"], r["reordered"]),
            r["cpu_per_m"], r["cpu_per_m"] / base["cpu_per_m"], r["rss_kib"])
        if not args.quick:
            line += " %12.0f" % r["paced"]
        print(line)
    print("sender's full speed: %.0f datagrams/s" % base["sent_rate"])


if __name__ == "__main__":
    main()
