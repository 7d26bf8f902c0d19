"""Helpers for driving the real Tempvaro.exe under Wine on a virtual display inside the test namespace."""

import os
import pathlib
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "windows-x64"
EXE = pathlib.Path(os.environ.get("TEMPVARO_EXE", BUILD / "Tempvaro.exe"))
PROBE = pathlib.Path(os.environ.get("TEMPVARO_PROBE", BUILD / "tests" / "tools" / "window_probe.exe"))
SCREENSHOTS = pathlib.Path(os.environ.get("TEMPVARO_SCREENSHOTS", BUILD / "screenshots"))
WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")

MAIN_TITLE = "Tempvaro"
TIME_SERVER_NAMES = ("time.nist.gov", "time-a-g.nist.gov", "time-b-g.nist.gov")
# Window ids the tests drive.
IDOK = 1
IDCANCEL = 2

PROBE_TIMEOUT = 20
POLL_INTERVAL = 0.1
# Wine takes a few seconds to tear a process down after its window has gone.
EXIT_TIMEOUT = 15


def image_machine(path):
    """"x86" or "x86-64": the machine a Windows program is built for, from its PE header."""
    data = pathlib.Path(path).read_bytes()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    machine = struct.unpack_from("<H", data, header + 4)[0]
    return {0x14C: "x86", 0x8664: "x86-64"}.get(machine, hex(machine))


def announce_build():
    """Says in one line which build the tests exercise, and when it is not the one users get."""
    machine = image_machine(EXE)
    note = "the shipped 32-bit build" if machine == "x86" else "NOT the shipped 32-bit build, release or setup"
    print(f"e2e: exercising {EXE} ({machine}); {note}", file=sys.stderr, flush=True)


def check_isolation():
    """Refuses to go on unless this process is inside run_isolated.sh's namespace: only loopback exists and the
    server names map to loopback, so nothing a test starts can reach a real time server."""
    if os.environ.get("TEMPVARO_ISOLATED") != "1":
        raise RuntimeError("run this through tests/wine/run_isolated.sh")
    # /proc/self/net follows this process's network namespace (the /sys mount still shows the host's).
    lines = pathlib.Path("/proc/self/net/dev").read_text().splitlines()[2:]
    interfaces = sorted(line.split(":")[0].strip() for line in lines)
    if interfaces != ["lo"]:
        raise RuntimeError(f"network interfaces other than loopback are present: {interfaces}")
    addresses = {}
    for line in pathlib.Path("/etc/hosts").read_text().splitlines():
        fields = line.split("#")[0].split()
        for name in fields[1:]:
            addresses.setdefault(name, fields[0])
    for name in TIME_SERVER_NAMES:
        if not addresses.get(name, "").startswith("127."):
            raise RuntimeError(f"/etc/hosts does not map {name} to loopback")
    announce_build()


def settings_folder(servers):
    """A new folder for the program whose settings file names the given time servers (slot: name); the caller
    removes it."""
    workdir = tempfile.mkdtemp(prefix="tempvaro-e2e-")
    lines = "".join(f"TimeServer{slot}={name}\r\n" for slot, name in servers.items())
    pathlib.Path(workdir, "NetTimeConfig.ini").write_bytes(f"[Config]\r\n{lines}".encode())
    return workdir


def start_module(*programs):
    """What every end-to-end module does first: refuse to run outside the namespace or without the programs it
    starts, then start its virtual display, which it returns."""
    check_isolation()
    for program in (EXE, PROBE, *programs):
        if not program.exists():
            raise RuntimeError(f"{program} is missing; build the windows-x86 and windows-x64 presets first")
    return VirtualDisplay().start()


def _display_taken(number):
    return os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}")


class VirtualDisplay:
    """An Xvfb server on the first free display number from 110; only its file socket, which works in the
    namespace."""

    def __init__(self, width=1024, height=768):
        self.size = f"{width}x{height}x24"
        self.number = None
        self.process = None

    @property
    def name(self):
        return f":{self.number}"

    def start(self):
        for number in range(110, 200):
            if _display_taken(number):
                continue
            process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", self.size, "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    self.number, self.process = number, process
                    return self
                time.sleep(0.05)
            # Lost a race for this number, or Xvfb failed: end it and try the next number.
            end_process(process)
        raise RuntimeError("no free X display for Xvfb")

    def stop(self):
        if self.process is not None:
            end_process(self.process)
            self.process = None

    def screenshot(self, path, title=MAIN_TITLE):
        """Saves the visible X window named `title` (the whole screen if there is none) as a PNG; returns the
        path."""
        path = pathlib.Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        env = dict(os.environ, DISPLAY=self.name)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=10)
        windows = found.stdout.split()
        target = windows[0] if windows else "root"
        subprocess.run(["import", "-display", self.name, "-window", target, str(path)], env=env, check=True,
                       timeout=30)
        return path


class ExistingDisplay:
    """A display that is already there, such as the user's. Only a local one (":N") can be reached from inside
    the namespace, through its socket file."""

    def __init__(self, name):
        self.name = name

    @staticmethod
    def usable(name):
        match = re.fullmatch(r"(?:unix)?:(\d+)(?:\.\d+)?", name or "")
        return match is not None and os.path.exists(f"/tmp/.X11-unix/X{match.group(1)}")


def end_process(process, timeout=5):
    """Ends a process this harness started, by its PID: SIGTERM, then SIGKILL."""
    if process.poll() is not None:
        return process.returncode
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait(timeout)


def run_probe(display, *args):
    """Runs window_probe.exe; returns (exit code, stdout lines, stderr). Output goes through files: the first
    Wine process of a session starts Wine's own services, which would keep a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        env = dict(os.environ, DISPLAY=display.name)
        code = subprocess.run([WINE, str(PROBE), *args], stdout=out, stderr=err, env=env,
                              timeout=PROBE_TIMEOUT).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("utf-8").splitlines(), err.read().decode("utf-8", "replace")


def list_windows(display, include_hidden=True):
    """Top-level windows as dicts with pid (Windows process id), visible, cls and title."""
    code, lines, err = run_probe(display, "list", *(["--all"] if include_hidden else []))
    if code != 0:
        raise RuntimeError(f"window_probe list failed: {err}")
    windows = []
    for line in lines:
        pid, _, visible, cls, title = line.split("\t", 4)
        windows.append({"pid": int(pid), "visible": visible == "1", "cls": cls, "title": title})
    return windows


def count_windows(display, title, visible_only=False):
    code, lines, err = run_probe(display, "count", title, *(["--visible"] if visible_only else []))
    if code != 0:
        raise RuntimeError(f"window_probe count failed: {err}")
    return int(lines[0])


def set_dpi(dpi):
    """Wine shows the next programs' windows at `dpi` (LogPixels); restarting its server ends every Wine process."""
    subprocess.run([WINE, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                    str(dpi), "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
    for step in ("-k", "-w"):  # tests/wine/wine_env.sh names the server
        subprocess.run([os.environ["WINESERVER"], step], stderr=subprocess.DEVNULL, timeout=30)


def wait_until(condition, timeout, what):
    """Calls condition() until it returns something true and returns that; raises AssertionError naming `what`
    after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(POLL_INTERVAL)


class Program:
    """One run of Tempvaro.exe, copied into a directory of its own so that files it writes beside itself stay
    with this run."""

    def __init__(self, display, exe=EXE, workdir=None, name="Tempvaro.exe"):
        self.display = display
        self._own_dir = workdir is None
        self.workdir = pathlib.Path(workdir or tempfile.mkdtemp(prefix="tempvaro-e2e-"))
        self.exe = self.workdir / name
        if not self.exe.exists():
            shutil.copy2(exe, self.exe)
        self.log = self.workdir / "wine.log"
        self.process = None
        self.win_pid = None
        self.started = None

    def start(self, environment=None):
        """Starts the program, with `environment` (a dict) added to this process's."""
        env = dict(os.environ, DISPLAY=self.display.name, **(environment or {}))
        with open(self.log, "ab") as log:
            self.started = time.monotonic()
            self.process = subprocess.Popen([WINE, str(self.exe)], cwd=self.workdir, stdout=log,
                                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        return self

    def run(self, *args, environment=None, timeout=60):
        """Runs the program with `args` to its end, its output redirected to a file and Wine's messages to the log;
        returns its exit code, that output, and the seconds from the command to the exit."""
        env = dict(os.environ, DISPLAY=self.display.name, **(environment or {}))
        with tempfile.TemporaryFile() as out, open(self.log, "ab") as log:
            started = time.monotonic()
            code = subprocess.run([WINE, str(self.exe), *args], cwd=self.workdir, stdout=out, stderr=log,
                                  stdin=subprocess.DEVNULL, env=env, timeout=timeout).returncode
            elapsed = time.monotonic() - started
            out.seek(0)
            return code, out.read().decode("utf-8"), elapsed

    def wait_window(self, timeout=30):
        """Waits for the main window and remembers its Windows process id for the later probes."""
        def find():
            if self.process.poll() is not None:
                raise AssertionError(f"Tempvaro.exe ended with code {self.process.returncode} before its window")
            for window in list_windows(self.display):
                if window["title"] == MAIN_TITLE and window["cls"] == "#32770":
                    return window["pid"]
            return None
        self.win_pid = wait_until(find, timeout, "the Tempvaro window")
        return self

    def probe(self, *args):
        return run_probe(self.display, *args, "--pid", str(self.win_pid))

    def panes(self):
        """The status bar's pane texts, or None when the window is gone."""
        code, lines, _ = self.probe("panes")
        return lines if code == 0 else None

    def wait_panes(self, condition, timeout, what):
        """Polls the panes until condition(panes) holds; returns those panes. The failure names the last panes."""
        seen = [None]

        def check():
            seen[0] = self.panes()
            return seen[0] if seen[0] is not None and condition(seen[0]) else None
        try:
            return wait_until(check, timeout, what)
        except AssertionError as error:
            raise AssertionError(f"{error}; last panes: {seen[0]}") from None

    def wait_pane(self, index, text, timeout):
        return self.wait_panes(lambda panes: len(panes) > index and panes[index] == text, timeout,
                               f"pane {index} to read {text!r}")

    def command(self, command_id, title=MAIN_TITLE):
        code, _, err = run_probe(self.display, "command", str(command_id), "--title", title, "--pid",
                                 str(self.win_pid))
        if code != 0:
            raise AssertionError(f"cannot post command {command_id} to {title!r}: {err}")

    def key(self, name, title=MAIN_TITLE):
        """Types enter, esc or space into the window titled `title` of this program."""
        code, _, err = run_probe(self.display, "key", name, "--title", title, "--pid", str(self.win_pid))
        if code != 0:
            raise AssertionError(f"cannot send {name} to {title!r}: {err}")

    def check_states(self):
        """The check state (0, 1 or 2) of each check box of the main window, by control id."""
        code, lines, err = self.probe("children")
        if code != 0:
            raise AssertionError(f"window_probe children failed: {err}")
        states = {}
        for line in lines:
            control, _, state, _ = line.split("\t", 3)
            if state != "-":
                states[int(control)] = int(state)
        return states

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        return self.process.wait(timeout)

    def stop(self):
        """Closes the window as a user would; ends the process by PID if it does not go. Returns the exit code."""
        code = None
        if self.process is not None:
            if self.running() and self.win_pid is not None:
                run_probe(self.display, "close", "--pid", str(self.win_pid))
                try:
                    self.process.wait(EXIT_TIMEOUT)
                except subprocess.TimeoutExpired:
                    pass
            code = end_process(self.process)
        if self._own_dir:
            shutil.rmtree(self.workdir, ignore_errors=True)
        return code
