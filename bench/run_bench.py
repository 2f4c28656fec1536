#!/usr/bin/env python3
"""End-to-end benchmark: how close QVSNMP runs to the limits its protocol sets.

Runs on this machine, against loopback only, with its own QVSNMP_NAMESPACE and
drive directory, and prints one Markdown table: each figure, the limit or peer
it is held against, and the ratio. Writes the table (bench.md), the raw figures
(bench.json) and a latency histogram (latency.png) into --out.

Fixed by the protocol: a query polls its reply in 50 ms steps (GET and SET
sleep once before the first poll, GETNEXT polls first), the worker passes every
50 ms, the base ring holds 1022 records. Everything else is ours.

Usage: run_bench.py --build BUILD_DIR --out DIR [--quick]
"""

import argparse
import datetime
import json
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

FLOOR_MS = 50.0  # one poll step of the reply wait
RING_RECORDS = 1022
PEN, APP_ID, APP_INST = 39917, 7, 1
STATUS_OID = "1.3.6.1.4.1.44821"
VARIABLE_OID = f"1.3.6.1.4.1.{PEN}.{APP_ID}.{APP_INST}.1"
WALK_ROOT = f"1.3.6.1.4.1.{PEN}.{APP_ID}.{APP_INST}"
SNMPTRAPD = shutil.which("snmptrapd") or "/usr/sbin/snmptrapd"
SNMPGET = shutil.which("snmpget") or "/usr/bin/snmpget"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    k = (len(ordered) - 1) * p / 100.0
    low = int(k)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (k - low)


class Process:
    """A child we started; stopped by its PID only."""

    def __init__(self, name, argv, env, stdin=False, stdout=True, stdout_file=None):
        self.name = name
        out = open(stdout_file, "w") if stdout_file else (subprocess.PIPE if stdout else subprocess.DEVNULL)
        self.popen = subprocess.Popen(argv, env=env, text=True, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                      stdout=out, stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        if stdout and not stdout_file:
            threading.Thread(target=self._read, daemon=True).start()

    @property
    def pid(self):
        return self.popen.pid

    def _read(self):
        for line in self.popen.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def read_line(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            raise RuntimeError(f"{self.name}: no answer within {timeout} s")

    def ask(self, command, timeout=60):
        self.popen.stdin.write(command + "\n")
        self.popen.stdin.flush()
        line = self.read_line(timeout)
        if line is None:
            raise RuntimeError(f"{self.name} ended while asked '{command}'")
        return line

    def stop(self, sig=signal.SIGTERM, timeout=15):
        if self.popen.poll() is not None:
            return
        if self.popen.stdin:
            # Applications end cleanly at the end of their input.
            try:
                self.popen.stdin.close()
            except OSError:
                pass
            try:
                self.popen.wait(10)
                return
            except subprocess.TimeoutExpired:
                pass
        os.kill(self.popen.pid, sig)
        try:
            self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            os.kill(self.popen.pid, signal.SIGKILL)
            self.popen.wait(10)


def cpu_seconds(pid):
    """utime + stime of the whole process, from /proc/PID/stat."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def cpu_ns(pid):
    """Time on CPU of all threads, from /proc/PID/task/*/schedstat (ns)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total


def udp_receive_buffer_drops():
    """Datagrams the kernel dropped for a full socket buffer (whole machine)."""
    with open("/proc/net/snmp") as f:
        rows = [line.split() for line in f if line.startswith("Udp:")]
    return int(rows[1][rows[0].index("RcvbufErrors")])


def memory_kib(pid):
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    return values


class Bench:
    def __init__(self, args):
        self.args = args
        self.quick = args.quick
        build = os.path.abspath(args.build)
        self.module = os.path.join(build, "libqvsnmp.so")
        self.host = os.path.join(build, "host", "snmp")
        self.driver = os.path.join(build, "bench", "driver", "snmp")
        self.app = os.path.join(build, "bench", "qvsnmp_bench_app")
        self.client = os.path.join(build, "bench", "qvsnmp_bench_client")
        self.native = os.path.join(build, "bench", "qvsnmp_bench_native")
        self.micro = os.path.join(build, "bench", "qvsnmp_micro_bench")
        self.work = tempfile.mkdtemp(prefix="qvsnmp-bench-")
        self.namespace = f"qvbench{os.getpid()}"
        drive = os.path.join(self.work, "drive_c")
        os.makedirs(drive)
        self.env = dict(os.environ, QVSNMP_NAMESPACE=self.namespace, QVSNMP_DRIVE_C=drive, MIBS="")
        self.children = []
        self.results = {}
        self.samples = {}

    # Counts: quick mode only proves that every step still runs.
    def n(self, full, quick):
        return quick if self.quick else full

    def start(self, *args, **kwargs):
        process = Process(*args, env=self.env, **kwargs)
        self.children.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.children):
            try:
                process.stop()
            except Exception as error:  # keep stopping the others
                log(f"stopping {process.name}: {error}")
        self.children = []

    def leftovers(self):
        return sorted(name for name in os.listdir("/dev/shm") if name.startswith(self.namespace + "."))

    def wait_for_status(self, peer, what):
        """Waits until the agent at peer answers the status value."""
        deadline = time.time() + 20
        while True:
            values, failures = self.client_run("get", peer, "public", STATUS_OID, 1, timeout=30)
            if values and not failures:
                return
            if time.time() > deadline:
                raise RuntimeError(f"{what} does not answer")
            time.sleep(0.2)

    def client_run(self, mode, peer, community, oid, count, timeout=600):
        out = subprocess.run([self.client, mode, peer, community, oid, str(count)], env=self.env, text=True,
                             capture_output=True, timeout=timeout)
        values, failures = [], 0
        for line in out.stdout.splitlines():
            parts = line.split()
            if mode == "walk":
                values.append((float(parts[1]) / 1000.0, int(parts[2])))
            else:
                if parts[2] != "ok":
                    failures += 1
                values.append(float(parts[1]) / 1000.0)
        return values, failures

    # -- figures -----------------------------------------------------------

    def micro_benchmarks(self):
        log("micro-benchmarks")
        out = subprocess.run([self.micro, "--benchmark_format=json",
                              f"--benchmark_min_time={self.n(0.2, 0.001)}"],
                             text=True, capture_output=True, timeout=600, check=True)
        rows = []
        for b in json.loads(out.stdout)["benchmarks"]:
            unit = b.get("time_unit", "ns")
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[unit]
            rows.append((b["name"], b["real_time"] * scale))
        self.results["micro"] = rows

    def direct_queries(self):
        count = self.n(300, 5)
        log(f"SnmpExtensionQuery against an SDK application, {count} each of GET, GETNEXT, SET")
        driver = self.start("driver", [self.driver, self.module, str(PEN), str(APP_ID), str(APP_INST), str(count)])
        time.sleep(0.3)  # the driver's module creates the base region the application maps
        app = self.start("app", [self.app, str(PEN), str(APP_ID), str(APP_INST), "1"], stdin=True)
        if app.read_line(30) != "up":
            raise RuntimeError("application did not come up")
        if driver.read_line(30) != "ready":
            raise RuntimeError("driver not ready")
        samples = {"get": [], "getnext": [], "set": []}
        failures = 0
        while True:
            line = driver.read_line(count * 3 * 2.5 + 60)
            if line is None:
                break
            op, us, status = line.split()
            samples[op].append(float(us) / 1000.0)
            failures += status != "0"
        app.stop()
        driver.stop()
        self.children = [c for c in self.children if c not in (app, driver)]
        for op, values in samples.items():
            self.samples[f"direct {op}"] = values
        self.results["direct_failures"] = failures

    def host_phase(self):
        port, trap_port, native_port = free_udp_port(), free_udp_port(), free_udp_port()
        peer = f"127.0.0.1:{port}"
        config = os.path.join(self.work, "snmptrapd.conf")
        with open(config, "w") as f:
            f.write("disableAuthorization yes\n")
        trap_log = os.path.join(self.work, "traps.log")
        open(trap_log, "w").close()
        log(f"snmptrapd on udp:127.0.0.1:{trap_port}, host on {peer}")
        self.start("snmptrapd", [SNMPTRAPD, "-C", "-c", config, "-f", "-Lf", trap_log, "-On", "-m", "", "-M",
                                 "/dev/null", f"udp:127.0.0.1:{trap_port}"], stdout=False)
        host = self.start("host", [self.host, "--module", self.module, "--listen", f"udp:127.0.0.1:{port}",
                                   "--rw-community", "private", "--trap-sink", f"127.0.0.1:{trap_port}"],
                          stdout=False)
        self.wait_for_status(peer, "host")
        app = self.start("app", [self.app, str(PEN), str(APP_ID), str(APP_INST), "1"], stdin=True)
        if app.read_line(30) != "up":
            raise RuntimeError("application did not come up")

        period = float(app.ask("period").split()[1])
        self.results["period_ms"] = period
        log(f"worker pass period {period:.2f} ms")

        count = self.n(300, 5)
        log(f"host over UDP, {count} each of GET, GETNEXT, SET")
        failures = 0
        for op, community in (("get", "public"), ("getnext", "public"), ("set", "private")):
            values, bad = self.client_run(op, peer, community, VARIABLE_OID, count)
            self.samples[f"udp {op}"] = values
            failures += bad
        self.results["udp_failures"] = failures

        # The status value against the same constant from a native agent, in
        # alternating rounds so that both see the same machine.
        text = subprocess.run([SNMPGET, "-v2c", "-c", "public", "-On", "-Oqv", peer, STATUS_OID], env=self.env,
                              text=True, capture_output=True, timeout=30).stdout.strip()
        if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
            text = text[1:-1]
        self.results["status_text"] = text
        native = self.start("native", [self.native, str(native_port), STATUS_OID, text], stdout=False)
        native_peer = f"127.0.0.1:{native_port}"
        self.wait_for_status(native_peer, "native agent")
        rounds, per_round = self.n(5, 1), self.n(1000, 20)
        log(f"status value: host vs native agent, {rounds} rounds of {per_round}")
        host_status, native_status, failures = [], [], 0
        for _ in range(rounds):
            values, bad = self.client_run("get", peer, "public", STATUS_OID, per_round)
            host_status += values
            failures += bad
            values, bad = self.client_run("get", native_peer, "public", STATUS_OID, per_round)
            native_status += values
            failures += bad
        self.samples["host status"] = host_status
        self.samples["native status"] = native_status
        self.results["status_failures"] = failures
        native.stop()
        self.children.remove(native)

        # A flood of GETs of an application variable from one manager (2,000 a
        # second), and another manager's GETs of the status value meanwhile.
        flood_count, probes = self.n(20000, 500), self.n(100, 5)
        log(f"status value during a flood of {flood_count} GETs, {probes} probes")
        flooder = subprocess.Popen([self.client, "flood", peer, "public", VARIABLE_OID, str(flood_count)],
                                   env=self.env, text=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        values, bad = [], 0
        for _ in range(10):  # spread over the flood's 10 s
            time.sleep(0.9)
            more, worse = self.client_run("get", peer, "public", STATUS_OID, max(probes // 10, 1))
            values += more
            bad += worse
        flooder.communicate(timeout=120)
        self.samples["status under flood"] = values
        self.results["flood"] = {"count": flood_count, "failures": bad,
                                 "within": sum(1 for v in values if v <= 1000.0)}
        # The host drops what is left of the flood once it is 5 s old.
        time.sleep(6)

        walks = self.n(4, 1)
        log(f"{walks} walks of the application's 100 variables")
        values, _ = self.client_run("walk", peer, "public", WALK_ROOT, walks)
        self.results["walks"] = values

        connects = self.n(20, 3)
        log(f"{connects} connections")
        self.results["connect_ms"] = [float(x) for x in app.ask(f"connect {connects}", timeout=120).split()[1:]]

        self.traps(app, trap_log)
        self.idle(host, app, peer)

    def delivered(self, trap_log, first, count, wait):
        """Values first..first+count-1 seen at snmptrapd (waits up to `wait` s)."""
        pattern = re.compile(rf"\.1\.3\.6\.1\.4\.1\.{PEN}\.{APP_ID}\.{APP_INST}\.1\.2 = INTEGER: (-?\d+)")
        deadline = time.time() + wait
        while True:
            with open(trap_log, errors="replace") as f:
                seen = [int(v) for v in pattern.findall(f.read())]
            inside = [v for v in seen if first <= v < first + count]
            if len(set(inside)) >= count or time.time() > deadline:
                return inside, time.time()
            time.sleep(0.005)

    def traps(self, app, trap_log):
        period = self.results["period_ms"]
        log("trap burst of 1022 records, paced so that the trap walk is never lapped")
        began = time.time()
        answer = dict(kv.split("=") for kv in app.ask(f"burst {RING_RECORDS} paced").split()[1:])
        first, count = int(answer["first"]), int(answer["count"])
        seen, at = self.delivered(trap_log, first, count, 15)
        self.results["burst_paced"] = {
            "count": count, "delivered": len(set(seen)), "duplicates": len(seen) - len(set(seen)),
            "append_ms": float(answer["append_ms"]), "walked_ms": float(answer["walked_ms"]),
            "received_ms": (at - began) * 1000.0}

        log("trap burst of 1022 records, unpaced (all appended before the worker's next pass)")
        answer = dict(kv.split("=") for kv in app.ask(f"burst {RING_RECORDS} unpaced").split()[1:])
        first, count = int(answer["first"]), int(answer["count"])
        seen, _ = self.delivered(trap_log, first, count, 3)
        self.results["burst_unpaced"] = {"count": count, "delivered": len(set(seen)),
                                         "append_ms": float(answer["append_ms"])}

        seconds = self.n(5, 0.5)
        log(f"sustained traps for {seconds} s")
        drops_before = udp_receive_buffer_drops()
        answer = dict(kv.split("=") for kv in app.ask(f"stream {seconds}", timeout=seconds + 60).split()[1:])
        first, count = int(answer["first"]), int(answer["count"])
        seen, _ = self.delivered(trap_log, first, count, 20)
        walked = float(answer["walked_ms"])
        self.results["stream"] = {"count": count, "delivered": len(set(seen)), "walked_ms": walked,
                                  "udp_drops": udp_receive_buffer_drops() - drops_before,
                                  "per_pass": count / (walked / period) if walked > 0 else float("nan"),
                                  "per_second": count / (walked / 1000.0) if walked > 0 else float("nan")}

    def idle(self, host, app, peer):
        others = self.start("apps15", [self.app, str(PEN), str(APP_ID + 2), "1", "15"], stdin=True)
        if others.read_line(60) != "up":
            raise RuntimeError("15 applications did not come up")
        time.sleep(self.n(3, 0.5))  # let the connections settle
        seconds = self.n(30, 1)
        log(f"idle for {seconds} s with 16 sessions up")
        pids = {"host": host.pid, "app": app.pid, "apps15": others.pid}
        before = {k: (cpu_seconds(p), cpu_ns(p)) for k, p in pids.items()}
        t0 = time.monotonic()
        time.sleep(seconds)
        elapsed = time.monotonic() - t0
        after = {k: (cpu_seconds(p), cpu_ns(p)) for k, p in pids.items()}
        idle = {}
        for k in pids:
            idle[k] = {"stat_percent": 100.0 * (after[k][0] - before[k][0]) / elapsed,
                       "schedstat_percent": 100.0 * (after[k][1] - before[k][1]) / 1e9 / elapsed,
                       **memory_kib(pids[k])}
        idle["seconds"] = elapsed
        self.results["idle"] = idle
        # Still answering at the first poll step after the idle time.
        values, bad = self.client_run("get", peer, "public", VARIABLE_OID, self.n(20, 3))
        self.results["after_idle_get_ms"] = values
        self.results["after_idle_failures"] = bad
        others.stop()
        self.children.remove(others)

    # -- report ------------------------------------------------------------

    def table(self):
        r, s = self.results, self.samples
        rows = []

        def row(figure, measured, against, ratio, goal, met):
            rows.append((figure, measured, against, ratio, goal, met))

        def verdict(ok):
            return "met" if ok else "**missed**"

        for op in ("get", "getnext", "set"):
            v = s.get(f"direct {op}", [])
            if not v:
                continue
            p50, p99 = percentile(v, 50), percentile(v, 99)
            row(f"{op.upper()} via SnmpExtensionQuery, p50 (n={len(v)})", f"{p50:.2f} ms", "50 ms floor",
                f"{p50 / FLOOR_MS:.3f}", "≤ 1.02", verdict(p50 / FLOOR_MS <= 1.02))
            row(f"{op.upper()} via SnmpExtensionQuery, p99", f"{p99:.2f} ms", "50 ms floor",
                f"{p99 / FLOOR_MS:.3f}", "≤ 1.10", verdict(p99 / FLOOR_MS <= 1.10))
        for op in ("get", "getnext", "set"):
            v, d = s.get(f"udp {op}", []), s.get(f"direct {op}", [])
            if not v or not d:
                continue
            p50, p99 = percentile(v, 50), percentile(v, 99)
            added = p50 - percentile(d, 50)
            row(f"{op.upper()} via host over UDP, p50 / p99 (n={len(v)})", f"{p50:.2f} / {p99:.2f} ms",
                "50 ms floor", f"{p50 / FLOOR_MS:.3f} / {p99 / FLOOR_MS:.3f}", "—", "—")
            row(f"{op.upper()} host's added latency (UDP p50 − direct p50)", f"{added:.3f} ms", "0.3 ms",
                f"{added / 0.3:.2f}", "< 0.3 ms", verdict(added < 0.3))
        hs, ns = s.get("host status", []), s.get("native status", [])
        if hs and ns:
            h50, n50 = percentile(hs, 50), percentile(ns, 50)
            row(f"Status value 1.3.6.1.4.1.44821 via host, p50 (n={len(hs)})", f"{h50 * 1000:.0f} µs",
                f"native net-snmp agent {n50 * 1000:.0f} µs", f"{h50 / n50:.2f}", "≤ 1.2", verdict(h50 / n50 <= 1.2))
            h99, n99 = percentile(hs, 99), percentile(ns, 99)
            row("Status value via host, p99", f"{h99 * 1000:.0f} µs", f"native {n99 * 1000:.0f} µs",
                f"{h99 / n99:.2f}", "—", "—")
        f, fs = r.get("flood"), s.get("status under flood", [])
        if f and fs:
            row(f"Status value during a {f['count']}-GET flood of an application variable: answered within 1 s",
                f"{f['within']} of {len(fs)} (p99 {percentile(fs, 99):.1f} ms)", "every probe", "—",
                "all", verdict(f['within'] == len(fs)))
        if r.get("walks"):
            times = [t for t, _ in r["walks"]]
            variables = r["walks"][0][1]
            mean = sum(times) / len(times)
            row(f"Walk of the application's variables ({variables} found, {len(times)} walks)",
                f"{mean / 1000:.2f} s", f"{variables} poll steps = {variables * FLOOR_MS / 1000:.2f} s",
                f"{mean / (variables * FLOOR_MS):.3f}", "—", "—")
        period = r.get("period_ms")
        if period:
            row("Worker pass period", f"{period:.2f} ms", "50 ms", f"{period / 50:.3f}", "—", "—")
        if r.get("connect_ms"):
            c = r["connect_ms"]
            row(f"Connection: request to slot visible, p50 / max (n={len(c)})",
                f"{percentile(c, 50):.1f} / {max(c):.1f} ms", "1 pass",
                f"{percentile(c, 50) / period:.2f} / {max(c) / period:.2f} passes", "—", "—")
        b = r.get("burst_paced")
        if b:
            row("Trap burst of 1022 records, paced: delivered to snmptrapd", f"{b['delivered']} of {b['count']}",
                "none lost", f"{b['delivered'] / max(b['count'], 1):.3f}", "all", verdict(b['delivered'] == b['count']
                                                                                        and b['duplicates'] == 0))
            row("Trap burst of 1022, paced: walked by the trap walk", f"{b['walked_ms']:.0f} ms",
                "1 pass", f"{b['walked_ms'] / period:.1f} passes", "—", "—")
            row("Trap burst of 1022, paced: all at snmptrapd", f"{b['received_ms']:.0f} ms", "1 pass",
                f"{b['received_ms'] / period:.1f} passes", "—", "—")
        u = r.get("burst_unpaced")
        if u:
            row("Trap burst of 1022 records, unpaced: delivered", f"{u['delivered']} of {u['count']}",
                "the SDK holds traps back before the walk is lapped", f"{u['delivered'] / max(u['count'], 1):.3f}",
                "all", verdict(u['delivered'] == u['count']))
        st = r.get("stream")
        if st:
            row(f"Sustained traps ({st['count']} records, {st['delivered']} delivered)",
                f"{st['per_pass']:.0f} records/pass ({st['per_second']:.0f}/s)", "1022 records/pass",
                f"{st['per_pass'] / RING_RECORDS:.3f}", "—",
                "—" if st['delivered'] == st['count'] else
                f"{st['count'] - st['delivered']} not at snmptrapd; {st['udp_drops']} datagrams dropped "
                "by full UDP receive buffers meanwhile")
        idle = r.get("idle")
        if idle:
            h, a, o = idle["host"], idle["app"], idle["apps15"]
            secs = idle["seconds"]
            row(f"Idle CPU of the host, 16 sessions up ({secs:.0f} s)", f"{h['schedstat_percent']:.3f} % of a core",
                "0.2 %", f"{h['schedstat_percent'] / 0.2:.2f}", "< 0.2 %", verdict(h['schedstat_percent'] < 0.2))
            row("Idle CPU of one SDK application", f"{a['schedstat_percent']:.3f} % of a core", "0.5 %",
                f"{a['schedstat_percent'] / 0.5:.2f}", "< 0.5 %", verdict(a['schedstat_percent'] < 0.5))
            row("Idle CPU of 15 SDK applications in one process", f"{o['schedstat_percent']:.3f} % of a core",
                "—", "—", "—", "—")
            after = r.get("after_idle_get_ms", [])
            if after:
                worst = max(after)
                row(f"GET via host after the idle time, max (n={len(after)})", f"{worst:.2f} ms",
                    "second poll step at 100 ms", f"{worst / 100:.3f}", "answered at the first step",
                    verdict(worst < 2 * FLOOR_MS and not r.get("after_idle_failures")))
            row("Resident memory of the host (VmRSS / VmHWM)", f"{h['VmRSS'] / 1024:.1f} / {h['VmHWM'] / 1024:.1f} MiB",
                "—", "—", "—", "—")
            row("Resident memory of one SDK application (VmRSS / VmHWM)",
                f"{a['VmRSS'] / 1024:.1f} / {a['VmHWM'] / 1024:.1f} MiB", "—", "—", "—", "—")
        for name, ns_value in r.get("micro", []):
            measured = f"{ns_value:.0f} ns" if ns_value >= 10 else f"{ns_value:.2f} ns"
            row(f"micro: {name}", measured, "—", "—", "—", "—")

        lines = ["| Figure | Measured | Held against | Ratio | Goal | Verdict |",
                 "|---|---|---|---|---|---|"]
        lines += ["| " + " | ".join(str(c) for c in one) + " |" for one in rows]
        return "\n".join(lines)

    def histogram(self, path):
        try:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            log("matplotlib is missing (scripts/install-deps.sh installs it): no PNG")
            return False
        fig, axes = plt.subplots(1, 2, figsize=(13, 4.8))
        for name in ("direct get", "direct getnext", "direct set", "udp get", "udp getnext", "udp set"):
            values = self.samples.get(name)
            if values:
                axes[0].hist(values, bins=80, range=(min(45.0, min(values)), max(60.0, percentile(values, 99.5))),
                             histtype="step", label=name)
        axes[0].axvline(FLOOR_MS, color="k", linestyle=":", label="50 ms poll step")
        axes[0].set_xlabel("latency (ms)")
        axes[0].set_ylabel("requests")
        axes[0].set_title("Application variables")
        axes[0].legend(fontsize=8)
        for name in ("host status", "native status"):
            values = self.samples.get(name)
            if values:
                us = [v * 1000 for v in values]
                axes[1].hist(us, bins=80, range=(0, percentile(us, 99.5)), histtype="step", label=name)
        axes[1].set_xlabel("latency (µs)")
        axes[1].set_title("Status value: host vs native net-snmp agent")
        axes[1].legend(fontsize=8)
        fig.tight_layout()
        fig.savefig(path, dpi=110)
        return True

    def run(self):
        load_before = os.getloadavg()
        started = datetime.datetime.now()
        try:
            self.micro_benchmarks()
            self.direct_queries()
            self.host_phase()
        finally:
            self.stop_all()
            left = self.leftovers()
            for name in left:  # only names of our own namespace
                os.unlink(os.path.join("/dev/shm", name))
            self.results["shm_leftovers"] = left
            shutil.rmtree(self.work, ignore_errors=True)
        load_after = os.getloadavg()
        header = (f"Measured {started:%Y-%m-%d %H:%M} on {os.cpu_count()} cores, "
                  f"load average {load_before[0]:.2f} before and {load_after[0]:.2f} after"
                  f"{' (quick mode: tiny counts, figures not meaningful)' if self.quick else ''}.")
        table = self.table()
        os.makedirs(self.args.out, exist_ok=True)
        with open(os.path.join(self.args.out, "bench.md"), "w") as f:
            f.write(header + "\n\n" + table + "\n")
        with open(os.path.join(self.args.out, "bench.json"), "w") as f:
            json.dump({"results": self.results, "samples": self.samples, "load": [load_before, load_after]}, f)
        png = os.path.join(self.args.out, "latency.png")
        wrote = self.histogram(png)
        print(header)
        print()
        print(table)
        print()
        print(f"Written: {os.path.join(self.args.out, 'bench.md')}" + (f", {png}" if wrote else ""))
        if self.results["shm_leftovers"]:
            print(f"Removed leftovers in /dev/shm: {self.results['shm_leftovers']}")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="a build tree of the linux-* presets")
    parser.add_argument("--out", required=True, help="directory for bench.md, bench.json, latency.png")
    parser.add_argument("--quick", action="store_true", help="tiny counts, to check that everything runs")
    return Bench(parser.parse_args()).run()


if __name__ == "__main__":
    sys.exit(main())
