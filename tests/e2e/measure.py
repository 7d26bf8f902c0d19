"""Measurements for the release notes (not a test): the release program's size, the time from a /check command to its
exit, the time from start to the clock report against a loopback server, the report on a right clock against a real
Time Protocol server, the time to the report from an NTP-only server while port 37 is swallowed, the worst case with
all three servers silent, how close to a server's time a set brings the clock (Time Protocol answers sent early and
late in their second, and SNTP), a set against servers answering both protocols, names that resolve late,
and a 5 MB update download beside curl fetching the same file from the same server. With --paths, instead: /check,
/sync, ntpdig and chronyd -Q against three SNTP servers 2.5 s ahead behind seeded jittery paths.
Run inside tests/wine/run_isolated.sh."""

import heapq
import os
import pathlib
import random
import re
import select
import socket
import statistics
import subprocess
import sys
import threading
import time

from . import fake_time_server, harness, real_servers
from .fake_time_server import FakeSntpServer, TimeServers
from .fake_web_server import DOWNLOAD_PATH, FakeWebServer, Reply, http_response

RELEASE = harness.ROOT / "build" / "windows-x86" / "Tempvaro.exe"
MEASURE_DOWNLOAD = pathlib.Path(os.environ.get("TEMPVARO_MEASURE_DOWNLOAD",
                                               harness.BUILD / "tests" / "tools" / "measure_download.exe"))
CONNECTING = "正在连接时间服务器......"
SET_FAILED = "更新本机时间失败!"
# Wine refuses to move its clock by half a second or more, and says by how much it was asked to.
REFUSED_SET = re.compile(r"NtSetSystemTime not allowed: difference (-?\d+) ms")
RUNS = 3
RIGHT_CLOCK_RUNS = 10


class SlowNameServer:
    """A DNS server on 127.0.0.1:53 that answers an A query for one of its names after `delay` seconds, and any other
    query at once with no address; /etc/resolv.conf names it while it runs (in this mount namespace only)."""

    def __init__(self, names, delay):
        self._names, self._delay = names, delay
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._socket.bind(("127.0.0.1", 53))
        resolv = pathlib.Path(harness.tempfile.mkdtemp(prefix="tempvaro-dns-")) / "resolv.conf"
        resolv.write_text("nameserver 127.0.0.1\noptions timeout:5 attempts:1\n")
        subprocess.run(["mount", "--bind", str(resolv), "/etc/resolv.conf"], check=True)
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while (query := self._receive()) is not None:
            threading.Thread(target=self._answer, args=query, daemon=True).start()

    def _receive(self):
        try:
            return self._socket.recvfrom(512)
        except OSError:
            return None

    def _answer(self, query, client):
        end = query.index(b"\0", 12)
        name = b".".join(query[at + 1:at + 1 + query[at]] for at in self._labels(query)).decode()
        address = self._names.get(name) if query[end + 1:end + 3] == b"\0\1" else None
        answer = query[:2] + b"\x81\x80\0\1" + (b"\0\1" if address else b"\0\0") + b"\0\0\0\0" + query[12:end + 5]
        if address:
            time.sleep(self._delay)
            answer += b"\xc0\x0c\0\1\0\1\0\0\0\x3c\0\4" + socket.inet_aton(address)
        self._socket.sendto(answer, client)

    @staticmethod
    def _labels(query):
        at = 12
        while query[at]:
            yield at
            at += 1 + query[at]

    def stop(self):
        self._socket.close()
        subprocess.run(["umount", "/etc/resolv.conf"], check=False)


def time_to_report(display, servers_setup, sntp_setup=None, environment=None, then=None, workdir=None):
    """Seconds from starting the program, and from its window appearing, to a result in pane 2; and that result.
    `then(program)` runs before the program is closed and its result is returned last."""
    with TimeServers() as servers:
        servers_setup(servers)
        sntp = {n: FakeSntpServer(address) for n, address in TimeServers.ADDRESSES.items()} if sntp_setup else {}
        program = harness.Program(display, workdir=workdir)
        try:
            if sntp_setup:
                sntp_setup(sntp)
            program.start(environment)
            program.wait_window()
            shown = time.monotonic()
            panes = program.wait_panes(lambda p: len(p) == 3 and p[2] not in ("", CONNECTING), 60, "the report")
            reported = time.monotonic()
            return reported - program.started, reported - shown, panes[2], then(program) if then else None
        finally:
            program.stop()
            for server in sntp.values():
                server.stop()


def refused_set(program):
    """The clock move, in ms, that a manual set asked of Wine."""
    program.command(harness.IDOK)
    program.wait_panes(lambda p: p[0] == SET_FAILED, 30, "the refused set")
    return int(REFUSED_SET.search(program.log.read_text(errors="replace")).group(1))


def command_times(display):
    """Seconds from the command to the exit: /check against an SNTP server that answers at once (port 37 refused),
    and /?, which contacts nothing, for Wine's own start and end."""
    sntp = FakeSntpServer(TimeServers.ADDRESSES[1])
    program = harness.Program(display)
    try:
        sntp.answer(0)
        checks = [program.run("/check") for _ in range(RUNS)]
        if any(code != 0 for code, _, _ in checks):
            raise RuntimeError(f"/check failed: {checks}")
        return [elapsed for _, _, elapsed in checks], [program.run("/?")[2] for _ in range(RUNS)]
    finally:
        program.stop()
        sntp.stop()


def download_times(size):
    server = FakeWebServer()
    body = os.urandom(size)
    server.set_reply(DOWNLOAD_PATH, Reply(http_response("200 OK", body)))
    workdir = pathlib.Path(harness.tempfile.mkdtemp(prefix="tempvaro-measure-"))
    tool = workdir / "measure_download.exe"
    harness.shutil.copy2(MEASURE_DOWNLOAD, tool)
    try:
        ours, theirs = [], []
        for _ in range(RUNS):
            output = subprocess.run([harness.WINE, str(tool)], capture_output=True, text=True, timeout=120).stdout
            fields = output.split()
            if fields[:2] != ["result", "1"]:
                raise RuntimeError(f"download failed: {output!r}")
            if (workdir / "Chronvik.exe").read_bytes() != body:
                raise RuntimeError("the downloaded file differs from what was served")
            ours.append(int(fields[-1]) / 1000)
            started = time.monotonic()
            subprocess.run(["curl", "-s", "-o", str(workdir / "curl.bin"), f"http://127.0.0.20{DOWNLOAD_PATH}"],
                           check=True, timeout=120)
            theirs.append(time.monotonic() - started)
        return ours, theirs
    finally:
        server.stop()
        harness.shutil.rmtree(workdir, ignore_errors=True)


# One-way delay each way, its jitter (uniform above it), the share of datagrams a spike of 50-250 ms holds, the share
# lost.
PATHS = {"Wi-Fi-like": (0.004, 0.006, 0.05, 0.02), "LTE-like": (0.020, 0.015, 0.15, 0.03)}
AHEAD = 2.5


def jittery_path(address, server, path, seed):
    """A UDP relay on address:123 to server:123 that delays, spikes and drops each datagram each way by a generator
    seeded once; returns its stop()."""
    base, jitter, spikes, loss = path
    rand, stopping, queue, client = random.Random(seed), threading.Event(), [], [None]
    outer, inner = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    outer.bind((address, 123))
    inner.bind(("127.0.0.1", 0))

    def relay():
        while not stopping.is_set():
            wait = min(0.1, max(0.0, queue[0][0] - time.monotonic())) if queue else 0.1
            for sock in select.select([outer, inner], [], [], wait)[0]:
                packet, sender = sock.recvfrom(512)
                client[0] = sender if sock is outer else client[0]
                if rand.random() >= loss:
                    delay = base + rand.uniform(0, jitter) + (rand.uniform(0.05, 0.25) if rand.random() < spikes else 0)
                    to = (inner, (server, 123)) if sock is outer else (outer, client[0])
                    heapq.heappush(queue, (time.monotonic() + delay, id(packet), packet, to))
            while queue and queue[0][0] <= time.monotonic():
                _, _, packet, (sock, to) = heapq.heappop(queue)
                sock.sendto(packet, to)

    thread = threading.Thread(target=relay, daemon=True)
    thread.start()

    def stop():
        stopping.set()
        thread.join()
        outer.close()
        inner.close()
    return stop


def path_results(display, path, seed, checks=25, sets=8):
    """(offset in s, seconds taken) of each run of /check, /sync, ntpdig and chronyd -Q, each through three jittery
    paths seeded alike, to SNTP servers AHEAD s ahead."""
    addresses = [f"127.0.0.{11 + n}" for n in range(3)]
    servers = [FakeSntpServer(f"127.0.0.{21 + n}") for n in range(3)]
    folder = pathlib.Path(harness.tempfile.mkdtemp(prefix="tempvaro-chrony-"))
    (folder / "chrony.conf").write_text("".join(f"server {a} iburst\n" for a in addresses) + f"cmdport 0\npidfile "
                                        f"{folder}/chronyd.pid\n")

    def ours(switch):
        program = harness.Program(display)
        _, output, took = program.run(switch, environment={"WINEDEBUG": "err+sync"})
        found = (re.search(r"offset_ms=(-?\d+)", output) if switch == "/check" else
                 REFUSED_SET.search(program.log.read_text(errors="replace")))
        return int(found.group(1)) / 1000, took

    def peer(command, pattern):
        started = time.monotonic()
        result = subprocess.run(command, capture_output=True, text=True, timeout=60)
        return float(re.search(pattern, result.stdout + result.stderr).group(1)), time.monotonic() - started

    contenders = {"/check": (lambda: ours("/check"), checks), "/sync": (lambda: ours("/sync"), sets),
                  "ntpdig": (lambda: peer(["ntpdig", "-j", "-t", "2", *addresses], r'"offset": ?(-?[\d.]+)'), checks),
                  "chronyd -Q": (lambda: peer(["chronyd", "-Q", "-f", str(folder / "chrony.conf")],
                                              r"wrong by (-?[\d.]+)"), sets)}
    try:
        for server in servers:
            server.answer(AHEAD)
        for name, (run, runs) in contenders.items():
            stops = [jittery_path(a, f"127.0.0.{21 + n}", path, seed + n) for n, a in enumerate(addresses)]
            try:
                yield name, [run() for _ in range(runs)]
            finally:
                for stop in stops:
                    stop()
    finally:
        for server in servers:
            server.stop()
        harness.shutil.rmtree(folder, ignore_errors=True)


def measure_paths(seed=868):
    harness.check_isolation()
    display = harness.VirtualDisplay().start()
    try:
        for name, path in PATHS.items():
            for contender, results in path_results(display, path, seed):
                errors, took = sorted(abs(offset - AHEAD) * 1000 for offset, _ in results), [t for _, t in results]
                print(f"{name} {contender}: |error| median {statistics.median(errors):.1f} ms, p90 "
                      f"{errors[round(0.9 * (len(errors) - 1))]:.1f}, worst {errors[-1]:.1f} ({len(errors)} runs); "
                      f"{min(took):.2f}-{max(took):.2f} s, median {statistics.median(took):.2f} s")
    finally:
        display.stop()
    return 0


def main():
    harness.check_isolation()
    print(f"release Tempvaro.exe: {RELEASE.stat().st_size} bytes ({RELEASE.stat().st_size / 1024:.1f} KiB)")
    display = harness.VirtualDisplay().start()
    try:
        checks, usages = command_times(display)
        print(f"/check to its exit, SNTP server answering at once: median {statistics.median(checks):.2f} s (runs "
              f"{', '.join(f'{t:.2f}' for t in checks)}); /? to its exit: median {statistics.median(usages):.2f} s")
        answered = [time_to_report(display, lambda s: s[1].answer(-5)) for _ in range(RUNS)]
        print(f"start to report, loopback server answering port 37 only: median "
              f"{statistics.median(r[0] for r in answered):.2f} s (runs {', '.join(f'{r[0]:.2f}' for r in answered)}; "
              f"report {answered[0][2]})")
        both = [time_to_report(display, lambda s: s[1].answer(-5), lambda sntp: [sntp[n].answer(-5) for n in (1, 2, 3)])
                for _ in range(RUNS)]
        print(f"start to report, loopback servers answering both protocols: median "
              f"{statistics.median(r[0] for r in both):.2f} s (runs {', '.join(f'{r[0]:.2f}' for r in both)})")
        with real_servers.XinetdTimeServer(TimeServers.ADDRESSES[1]).start():
            right = [time_to_report(display, lambda s: None)[2] for _ in range(RIGHT_CLOCK_RUNS)]
        print(f"right clock against xinetd's Time Protocol service, {RIGHT_CLOCK_RUNS} runs at random fractions: "
              f"{right.count('时间准确！')} read 时间准确！ ({', '.join(sorted(set(right)))})")
        with real_servers.ChronyServer(TimeServers.ADDRESSES[2]).start():
            ntp_only = time_to_report(display, lambda s: [s[n].silent() for n in (1, 2, 3)])
        print(f"NTP-only server (chrony), port 37 swallowed: {ntp_only[1]:.2f} s from the window appearing to the "
              f"report ({ntp_only[2]})")
        silent = time_to_report(display, lambda s: [s[n].silent() for n in (1, 2, 3)], lambda sntp: None)
        print(f"all three servers silent on port 37 and to SNTP: {silent[0]:.2f} s from start, {silent[1]:.2f} s from "
              f"the window appearing, to the report ({silent[2]})")
        ahead = 7
        for when, window in (("early", (0.02, 0.08)), ("late", (0.92, 0.98))):
            fake_time_server.ALIGN_WINDOW = window
            moves = [time_to_report(display, lambda s: s[3].answer(ahead), None, {"WINEDEBUG": "err+sync"},
                                    refused_set)[3] for _ in range(RUNS)]
            print(f"set over the Time Protocol, server {ahead} s ahead answering {when} in its second "
                  f"({window[0]:.2f}-{window[1]:.2f} s): the clock would land "
                  f"{', '.join(f'{move - ahead * 1000:+.0f}' for move in moves)} ms from the server's time")
        ahead = 2.375
        moves = [time_to_report(display, lambda s: None, lambda sntp: sntp[3].answer(ahead), {"WINEDEBUG": "err+sync"},
                                refused_set)[3] for _ in range(RUNS)]
        print(f"set over SNTP against a server {ahead} s ahead: the clock would land "
              f"{', '.join(f'{move - ahead * 1000:+.0f}' for move in moves)} ms from the server's time")
        ahead = 7
        fake_time_server.ALIGN_WINDOW = (0.92, 0.98)
        moves = [time_to_report(display, lambda s: [s[n].answer(ahead) for n in (1, 2, 3)],
                                lambda sntp: [sntp[n].answer(ahead) for n in (1, 2, 3)], {"WINEDEBUG": "err+sync"},
                                refused_set)[3] for _ in range(RUNS)]
        fake_time_server.ALIGN_WINDOW = (0.45, 0.55)
        print(f"set with servers {ahead} s ahead on both protocols, port 37 answering late in its second: the clock "
              f"would land {', '.join(f'{move - ahead * 1000:+.0f}' for move in moves)} ms from the server's time")
        dns = SlowNameServer({"slow2.tempvaro.test": "127.0.0.12", "slow3.tempvaro.test": "127.0.0.13"}, 0.7)
        try:
            slow = [time_to_report(display, lambda s: s[1].answer(0, delay=1.2),
                                   workdir=harness.settings_folder({2: "slow2.tempvaro.test", 3: "slow3.tempvaro.test"}))
                    for _ in range(RUNS)]
        finally:
            dns.stop()
        print(f"right clock, server 1 answering port 37 1.2 s after its connection opened, names 2 and 3 resolving "
              f"0.7 s late: {', '.join(r[2] for r in slow)} ({', '.join(f'{r[1]:.2f}' for r in slow)} s from the "
              f"window appearing)")
    finally:
        display.stop()
    ours, theirs = download_times(5 * 1024 * 1024)
    print(f"5 MiB update download: Tempvaro median {statistics.median(ours):.3f} s "
          f"(runs {', '.join(f'{t:.3f}' for t in ours)}); curl median {statistics.median(theirs):.3f} s "
          f"(runs {', '.join(f'{t:.3f}' for t in theirs)})")
    return 0


if __name__ == "__main__":
    sys.exit(measure_paths() if "--paths" in sys.argv else main())
