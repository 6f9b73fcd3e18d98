#!/usr/bin/env python3
"""LocalServer's cost curve: N client processes (bin/cost_client), each
publishing 10 variables at 10 Hz and following those of 5 others, against
one LocalServer process, with SendImmediately off and then on.

  python3 bench/cost_curve.py [--clients 1,10,50,100] [--seconds 30]
                              [--build build] [--json FILE]

Per N and switch: notifications delivered per second, lost (must be 0),
latency from posting to delivery (median, 99th percentile), LocalServer's
CPU (% of one core) and resident memory, and the clients' CPU (% of one
core, all together). Exit status 1 when a notification was lost or came
twice, 2 on a bad command line or an N the descriptor limit cannot serve.
scripts/plot_cost.py draws the JSON file as a PNG.
"""
import argparse
import array
import json
import os
import re
import resource
import select
import signal
import subprocess
import sys
import tempfile
import time

TICK = os.sysconf("SC_CLK_TCK")
MAX_CONNECTIONS = 1000  # LocalServer serves no more at once


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def memory_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def read_line(proc, timeout, wanted):
    """The first line of proc's output that starts with wanted, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        line = proc.stdout.readline()
        if not line:
            return None
        if line.startswith(wanted):
            return line
    return None


def percentile(sorted_values, share):
    if not sorted_values:
        return float("nan")
    return sorted_values[min(len(sorted_values) - 1, int(len(sorted_values) * share))]


def start_server(bin_dir):
    server = subprocess.Popen([os.path.join(bin_dir, "LocalServer"), "--port", "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = read_line(server, 10, "LocalServer listening")
    if line is None:
        server.kill()
        raise SystemExit("cost_curve: LocalServer did not start")
    return server, int(re.search(r":(\d+)", line).group(1))


def run(bin_dir, clients, immediate, seconds, work):
    """One measurement: a dict of the figures."""
    server, port = start_server(bin_dir)
    procs = []
    try:
        for i in range(clients):
            procs.append(subprocess.Popen(
                [os.path.join(bin_dir, "cost_client"), str(port), str(i), str(clients),
                 str(int(immediate)), str(seconds), os.path.join(work, "lat-%d" % i)],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                text=True))
        for p in procs:
            if read_line(p, 180, "ready") is None:
                raise SystemExit("cost_curve: a client did not register")
        pids = [p.pid for p in procs]
        server_cpu0 = cpu_seconds(server.pid)
        client_cpu0 = sum(cpu_seconds(pid) for pid in pids)
        for p in procs:
            p.stdin.write("go\n")
            p.stdin.flush()
        started = time.monotonic()
        done = [read_line(p, seconds + 60, "done") for p in procs]
        wall = time.monotonic() - started
        server_cpu = cpu_seconds(server.pid) - server_cpu0
        client_cpu = sum(cpu_seconds(pid) for pid in pids) - client_cpu0
        rss, peak = memory_kib(server.pid, "VmRSS"), memory_kib(server.pid, "VmHWM")
    finally:
        for p in procs:
            if p.stdin:
                p.stdin.close()
        for p in procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
    if any(d is None for d in done):
        raise SystemExit("cost_curve: a client did not finish")
    received = sum(int(d.split()[1]) for d in done)
    expected = sum(int(d.split()[2]) for d in done)
    repeated = sum(int(d.split()[3]) for d in done)
    latencies = array.array("d")
    for i in range(clients):
        path = os.path.join(work, "lat-%d" % i)
        with open(path, "rb") as f:
            latencies.frombytes(f.read())
        os.unlink(path)
    ordered = sorted(latencies)
    return dict(clients=clients, send_immediately=immediate, seconds=seconds,
                delivered_per_s=received / seconds, expected=expected, lost=expected - received,
                repeated=repeated, median_ms=percentile(ordered, 0.5) * 1e3,
                p99_ms=percentile(ordered, 0.99) * 1e3,
                server_cpu_pct=100 * server_cpu / wall, server_rss_kib=rss,
                server_peak_kib=peak, clients_cpu_pct=100 * client_cpu / wall)


def descriptor_room():
    """The most clients the descriptor limit allows: two pipes each here,
    one connection each in the server, and some to spare."""
    soft, _ = resource.getrlimit(resource.RLIMIT_NOFILE)
    return min(MAX_CONNECTIONS, (soft - 64) // 2)


def table(rows):
    print("| clients | SendImmediately | delivered/s | lost | median | 99th pct "
          "| LocalServer CPU | LocalServer RSS | clients' CPU |")
    print("|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        print("| %d | %s | %.0f | %d | %.1f ms | %.1f ms | %.1f %% | %.1f MiB | %.1f %% |" % (
            r["clients"], "on" if r["send_immediately"] else "off", r["delivered_per_s"],
            r["lost"], r["median_ms"], r["p99_ms"], r["server_cpu_pct"],
            r["server_rss_kib"] / 1024, r["clients_cpu_pct"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--clients", default="1,10,50,100")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--build", default="build")
    parser.add_argument("--json", default=None)
    args = parser.parse_args()
    try:
        counts = [int(n) for n in args.clients.split(",")]
    except ValueError:
        parser.error("--clients takes whole numbers separated by commas")
    if args.seconds <= 0 or args.seconds > 3600 or any(n < 1 for n in counts):
        parser.error("--seconds must be from 0 to 3600 and every N at least 1")
    room = descriptor_room()
    if max(counts) > room:
        print("cost_curve: %d clients need more descriptors than the limit allows (ulimit -n "
              "%d serves at most %d)" % (max(counts), resource.getrlimit(resource.RLIMIT_NOFILE)[0],
                                          room), file=sys.stderr)
        return 2
    bin_dir = os.path.join(args.build, "bin")
    rows = []
    with tempfile.TemporaryDirectory(prefix="moos-cost.") as work:
        for n in counts:
            for immediate in (False, True):
                rows.append(run(bin_dir, n, immediate, args.seconds, work))
                print("cost_curve: %d clients, SendImmediately %s: %.0f delivered/s, %d lost"
                      % (n, "on" if immediate else "off", rows[-1]["delivered_per_s"],
                         rows[-1]["lost"]), file=sys.stderr)
    table(rows)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)
    return 1 if any(r["lost"] or r["repeated"] for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
