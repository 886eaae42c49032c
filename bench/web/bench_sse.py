#!/usr/bin/env python3
"""50 live pages following a station of 8 slots: what they cost the station.

    bench/web/bench_sse.py [--corvane PATH] [--modsim PATH] [--clients 50] [--slots 8]
                           [--stalled 2] [--modules 5] [--rounds 2]

Each round runs the same station twice, once without --http ("none") and once with
--http 127.0.0.1:0 and N clients on /board/events (raw sockets, not browsers, each reading
every event as a page would), plus --stalled clients that connect and never read (a hung
browser: the station must not wait for them). The slots are modsims started --absent; one operator thread per
slot puts a module on, waits for its `ok` event, holds it 0.3 s, takes it off and waits for
`removed`, --modules times. Figures per run: the station's CPU (user + system from /proc, in %
of one core over the run's wall time), the median cycle (put on to `ok`), and for the clients
the events each got. Targets: CPU at most 2 points above none, median cycle at most 1.03 x
none's. Exit status 1 when a run failed or a target was missed.
"""
import argparse
import json
import os
import queue
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


class Client(threading.Thread):
    """One page's stream: counts the board's events until the station ends it."""

    def __init__(self, port, reads=True):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        # A stalled client's receive buffer is kept small, so the server's writes back up soon.
        if not reads:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.sock.sendall(b"GET /board/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.events = 0
        if reads:
            self.start()

    def run(self):
        while True:
            try:
                data = self.sock.recv(65536)
            except OSError:
                break
            if not data:
                break
            self.events += data.count(b"event: board")


def run_station(args, work, http):
    sims = []
    for n in range(args.slots):
        link = os.path.join(work, f"jig{n}")
        sim = subprocess.Popen([args.modsim, "--link", link, "--absent"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        sim.stdout.readline()
        sims.append((link, sim))
    argv = [args.corvane, "station", "--ports", ",".join(link for link, _ in sims),
            "--name", "B-{addr}", "--pace", "fast", "--quiet", "--events", "-"]
    err_path = os.path.join(work, "station.err")
    if http:
        argv += ["--http", "127.0.0.1:0"]
    station = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=open(err_path, "w"),
                               text=True)
    clients = []
    if http:
        while "is at http://" not in open(err_path).read():
            time.sleep(0.05)
        url = open(err_path).read().split("is at ")[1].split()[0]
        port = int(url.rstrip("/").rsplit(":", 1)[1])
        clients = [Client(port) for _ in range(args.clients)]
        stalled = [Client(port, reads=False) for _ in range(args.stalled)]
    by_port = {link: queue.Queue() for link, _ in sims}

    def follow():
        for line in station.stdout:
            event = json.loads(line)
            if event["port"] in by_port:
                by_port[event["port"]].put(event["event"])
    threading.Thread(target=follow, daemon=True).start()

    cycles, failures = [], []

    def operator(n, link, sim):
        events = by_port[link]
        for k in range(args.modules):
            sim.stdin.write(f"insert --address 00:1A:7D:{n:02X}:{k:02X}:{args.seed:02X}\n")
            sim.stdin.flush()
            put = time.monotonic()
            while (event := events.get(timeout=60)) not in ("ok", "failed"):
                pass
            if event == "failed":
                failures.append(link)
            cycles.append(time.monotonic() - put)
            time.sleep(0.3)
            sim.stdin.write("remove\n")
            sim.stdin.flush()
            while events.get(timeout=60) != "removed":
                pass

    time.sleep(2)
    start_cpu, start = cpu_seconds(station.pid), time.monotonic()
    operators = [threading.Thread(target=operator, args=(n, link, sim))
                 for n, (link, sim) in enumerate(sims)]
    for t in operators:
        t.start()
    for t in operators:
        t.join()
    wall, cpu = time.monotonic() - start, cpu_seconds(station.pid) - start_cpu
    station.send_signal(2)
    station.wait(60)
    for client in clients:
        client.join(10)
    for client in stalled if http else []:
        client.sock.close()
    for _, sim in sims:
        sim.terminate()
        sim.wait()
    return {"cpu": 100 * cpu / wall, "cycle": statistics.median(cycles), "wall": wall,
            "failed": len(failures), "events": sorted(c.events for c in clients)}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corvane", default=os.path.join(ROOT, "build/native/cli/corvane"))
    ap.add_argument("--modsim", default=os.path.join(ROOT, "build/native/tools/modsim/modsim"))
    ap.add_argument("--clients", type=int, default=50)
    ap.add_argument("--stalled", type=int, default=2)
    ap.add_argument("--slots", type=int, default=8)
    ap.add_argument("--modules", type=int, default=5)
    ap.add_argument("--rounds", type=int, default=2)
    args = ap.parse_args()
    print(f"load before: {os.getloadavg()[0]:.2f}")
    results = {"none": [], "http": []}
    for round_ in range(args.rounds):
        for kind in ("none", "http"):
            args.seed = 2 * round_ + (kind == "http")
            with tempfile.TemporaryDirectory(prefix="bench-sse-") as work:
                r = run_station(args, work, kind == "http")
            results[kind].append(r)
            got = f"  events per client {r['events'][0]}-{r['events'][-1]}" if r["events"] else ""
            print(f"{kind:5} round {round_ + 1}: station CPU {r['cpu']:.2f} %  median cycle "
                  f"{r['cycle'] * 1000:.0f} ms  wall {r['wall']:.1f} s  failed {r['failed']}{got}",
                  flush=True)
    print(f"load after: {os.getloadavg()[0]:.2f}")
    cpu = {k: statistics.mean(r["cpu"] for r in v) for k, v in results.items()}
    cycle = {k: statistics.median(r["cycle"] for r in v) for k, v in results.items()}
    above, ratio = cpu["http"] - cpu["none"], cycle["http"] / cycle["none"]
    failed = sum(r["failed"] for v in results.values() for r in v)
    short = any(r["events"][0] == 0 for r in results["http"])
    print(f"CPU above none: {above:+.2f} points (target <= 2){'' if above <= 2 else '  MISSED'}")
    print(f"cycle ratio: {ratio:.3f} (target <= 1.03){'' if ratio <= 1.03 else '  MISSED'}")
    return 1 if failed or short or above > 2 or ratio > 1.03 else 0


if __name__ == "__main__":
    sys.exit(main())
