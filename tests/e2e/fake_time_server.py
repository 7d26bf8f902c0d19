"""Fake Time Protocol (RFC 868) servers on loopback whose behaviour a test can switch while they run."""

import socket
import struct
import threading
import time

TIME_PORT = 37
# Seconds from 1900-01-01 to 1970-01-01, both UTC.
EPOCH_1900_TO_1970 = 2208988800

# An answer is sent in the middle of a second, where the receiver centres a whole-second value, so that a set moves
# the clock by little more than the trip (Wine refuses moves of half a second or more).
ALIGN_WINDOW = (0.45, 0.55)

ANSWER = "answer"
SILENT = "silent"
CLOSE = "close"
SHORT = "short"
SPLIT = "split"
ABSENT = "absent"

SPLIT_PIECES = (1, 2, 1)
SPLIT_DELAY = 0.15
SHORT_LENGTH = 2


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def time_value(unix_seconds):
    """The 4-byte big-endian count of seconds since 1900 for a Unix time; wraps like the 32-bit field does."""
    return struct.pack(">I", (int(unix_seconds) + EPOCH_1900_TO_1970) & 0xFFFFFFFF)


def wait_for_aligned_second(stop):
    """Sleeps until the fraction of the current second is inside ALIGN_WINDOW and returns that whole second;
    None when `stop` (a threading.Event) is set first."""
    while True:
        now = time.time()
        fraction = now - int(now)
        if ALIGN_WINDOW[0] <= fraction < ALIGN_WINDOW[1]:
            return int(now)
        if stop.wait((ALIGN_WINDOW[0] - fraction) % 1.0):
            return None


class FakeTimeServer:
    """One server on host:port. Modes: ANSWER (offset seconds from now), SILENT (accept, never send, hold the
    connection), CLOSE (close at once), SHORT (send 2 bytes, close), SPLIT (4 bytes in pieces, with offset),
    ABSENT (not listening, so connecting is refused)."""

    def __init__(self, host, port=TIME_PORT, mode=ABSENT, offset=0, delay=0.0):
        self.host = host
        self.port = port
        self._lock = threading.Lock()
        self._mode = None
        self._offset = 0
        self._delay = 0.0
        self._listener = None
        self._accepted = []
        self._stop = threading.Event()
        self._threads = []
        self._thread = threading.Thread(target=self._accept_loop, name=f"time-server-{host}", daemon=True)
        self.set_mode(mode, offset, delay)
        self._thread.start()

    def set_mode(self, mode, offset=0, delay=0.0):
        """Switches what later connections get; `delay` holds an answer back that many seconds first."""
        if mode not in (ANSWER, SILENT, CLOSE, SHORT, SPLIT, ABSENT):
            raise ValueError(f"unknown mode {mode!r}")
        with self._lock:
            self._mode = mode
            self._offset = offset
            self._delay = delay
            if mode == ABSENT:
                self._close_listener()
            elif self._listener is None:
                self._listener = self._listen()

    def answer(self, offset=0, delay=0.0):
        self.set_mode(ANSWER, offset, delay)

    def silent(self):
        self.set_mode(SILENT)

    def close_early(self):
        self.set_mode(CLOSE)

    def short(self):
        self.set_mode(SHORT)

    def split(self, offset=0, delay=0.0):
        self.set_mode(SPLIT, offset, delay)

    def absent(self):
        self.set_mode(ABSENT)

    @property
    def connections(self):
        """Number of connections accepted so far."""
        with self._lock:
            return len(self._accepted)

    @property
    def accept_times(self):
        """time.monotonic() of each accepted connection."""
        with self._lock:
            return list(self._accepted)

    def stop(self):
        self._stop.set()
        with self._lock:
            self._close_listener()
        self._thread.join(timeout=5)
        for thread in self._threads:
            thread.join(timeout=5)

    def _listen(self):
        listener = socket.socket(family(self.host), socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.host, self.port))
        listener.listen(8)
        listener.settimeout(0.1)
        return listener

    def _close_listener(self):
        if self._listener is not None:
            # Shut down first: a close alone leaves the socket listening while the accept loop still polls it.
            try:
                self._listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self._listener.close()
            self._listener = None

    def _accept_loop(self):
        while not self._stop.is_set():
            with self._lock:
                listener = self._listener
            if listener is None:
                self._stop.wait(0.05)
                continue
            try:
                connection, _ = listener.accept()
            except (socket.timeout, OSError):
                continue
            with self._lock:
                self._accepted.append(time.monotonic())
                mode, offset, delay = self._mode, self._offset, self._delay
            thread = threading.Thread(target=self._serve, args=(connection, mode, offset, delay), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, connection, mode, offset, delay):
        connection.settimeout(None)
        try:
            if mode == SILENT:
                self._hold(connection)
            elif mode == SHORT:
                connection.sendall(time_value(time.time())[:SHORT_LENGTH])
            elif mode in (ANSWER, SPLIT):
                if delay > 0 and self._stop.wait(delay):
                    return
                second = wait_for_aligned_second(self._stop)
                if second is None:
                    return
                value = time_value(second + offset)
                if mode == ANSWER:
                    connection.sendall(value)
                else:
                    start = 0
                    for size in SPLIT_PIECES:
                        connection.sendall(value[start:start + size])
                        start += size
                        if start < len(value):
                            time.sleep(SPLIT_DELAY)
        except OSError:
            pass
        finally:
            connection.close()

    def _hold(self, connection):
        """Keeps the connection open without sending until the client closes it or the server stops."""
        connection.settimeout(0.1)
        while not self._stop.is_set():
            try:
                if connection.recv(64) == b"":
                    return
            except socket.timeout:
                continue


class TimeServers:
    """The program's three servers, numbered 1..3 as the program numbers them; all absent at first."""

    ADDRESSES = {1: "127.0.0.11", 2: "127.0.0.12", 3: "127.0.0.13"}

    def __init__(self, port=TIME_PORT):
        self.servers = {number: FakeTimeServer(host, port) for number, host in self.ADDRESSES.items()}

    def __getitem__(self, number):
        return self.servers[number]

    def connections(self):
        return {number: server.connections for number, server in self.servers.items()}

    def stop(self):
        for server in self.servers.values():
            server.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()



SNTP_PORT = 123


def ntp_timestamp(unix_seconds):
    """The 8-byte NTP time stamp of a Unix time: seconds since 1900 and their fraction, 32 bits each."""
    return struct.pack(">Q", int((unix_seconds + EPOCH_1900_TO_1970) * 2 ** 32) % 2 ** 64)


class FakeSntpServer:
    """An SNTP server on host:123 that counts well-formed client requests (48 bytes, version 4, mode 3, any leap
    indicator: ntpdig sends 3) and answers them as answer() says: the time `offset` seconds from now, `delay` seconds
    late, with an originate time stamp that is not the request's (`spoof`), or a kiss-o'-death with code `kiss`; until
    then, not at all."""

    def __init__(self, host):
        self.requests = 0
        # time.monotonic() of each request counted.
        self.request_times = []
        self._reply = None
        self._stop = threading.Event()
        self._socket = socket.socket(family(host), socket.SOCK_DGRAM)
        self._socket.bind((host, SNTP_PORT))
        self._socket.settimeout(0.1)
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def answer(self, offset, delay=0.0, spoof=False, kiss=None):
        self._reply = (offset, delay, spoof, kiss)

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=5)
        self._socket.close()

    def _serve(self):
        while not self._stop.is_set():
            try:
                request, client = self._socket.recvfrom(512)
            except socket.timeout:
                continue
            if len(request) != 48 or request[0] & 0x3F != 0x23:
                continue
            self.requests += 1
            self.request_times.append(time.monotonic())
            if self._reply:
                offset, delay, spoof, kiss = self._reply
                self._stop.wait(delay)
                originate = bytes([request[40] ^ 1]) + request[41:48] if spoof else request[40:48]
                now = ntp_timestamp(time.time() + offset)
                head = bytes([0xE4, 0] + [0] * 10) + kiss if kiss else bytes([0x24, 1] + [0] * 10) + b"GPS\0"
                self._socket.sendto(head + now + originate + now + now, client)


class SilentAddress:
    """An address where nothing answers, on either protocol: a connection to port 37 never opens (its listener's queue
    is kept full, so the kernel drops further handshakes) and datagrams to port 123 are taken and never answered."""

    def __init__(self, host):
        self._listener = socket.socket(family(host), socket.SOCK_STREAM)
        self._listener.bind((host, TIME_PORT))
        self._listener.listen(0)
        self._fillers = []
        for _ in range(2):
            filler = socket.socket(family(host), socket.SOCK_STREAM)
            filler.settimeout(0.2)
            try:
                filler.connect((host, TIME_PORT))
            except OSError:
                pass
            self._fillers.append(filler)
        self.sntp = FakeSntpServer(host)

    def stop(self):
        self.sntp.stop()
        for filler in self._fillers:
            filler.close()
        self._listener.close()
