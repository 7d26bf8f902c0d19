"""A fake vendor web server on loopback port 80: the version page and the download, scripted per test, with the
ways a real server can misbehave (stalling, closing early, sending more than it announced)."""

import email.utils
import socket
import threading
import time

HTTP_PORT = 80
VENDOR_ADDRESS = "127.0.0.20"  # what tests/wine/hosts maps the vendor host to
VERSION_PATH = "/soft/Chronvik/Chronvik.asp?id=711"
DOWNLOAD_PATH = "/soft/Chronvik/Chronvik.exe"


def http_response(status, body, headers=None, length=True):
    """A whole response: status line, Content-Length (unless length is False) and the body (bytes or text)."""
    if isinstance(body, str):
        body = body.encode("ascii")
    lines = [f"HTTP/1.1 {status}", "Server: fake"]
    if length:
        lines.append(f"Content-Length: {len(body)}")
    lines.extend(headers or [])
    return ("\r\n".join(lines) + "\r\n\r\n").encode("ascii") + body


class Reply:
    """Bytes to send for one path; with stall_after, only that many are sent and the connection is then held
    open in silence until the server stops."""

    def __init__(self, data, stall_after=None):
        self.data = data
        self.stall_after = stall_after


class FakeWebServer:
    def __init__(self, host=VENDOR_ADDRESS, port=HTTP_PORT):
        self.replies = {}
        self.requests = []
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind((host, port))
        self._listener.listen(16)
        self._listener.settimeout(0.2)
        self._threads = []
        self._thread = threading.Thread(target=self._accept_loop, name="web-server", daemon=True)
        self._thread.start()

    def set_reply(self, path, reply):
        with self._lock:
            self.replies[path] = reply

    def paths_requested(self):
        with self._lock:
            return [request.split(b" ")[1].decode("ascii", "replace") for request in self.requests
                    if request.count(b" ") >= 2]

    def stop(self):
        self._stop.set()
        self._listener.close()
        self._thread.join(5)
        for thread in self._threads:
            thread.join(5)

    def _accept_loop(self):
        while not self._stop.is_set():
            try:
                client, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            thread = threading.Thread(target=self._serve, args=(client,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _serve(self, client):
        with client:
            client.settimeout(10)
            request = b""
            try:
                while b"\r\n\r\n" not in request:
                    chunk = client.recv(1024)
                    if not chunk:
                        return
                    request += chunk
            except OSError:
                return
            with self._lock:
                self.requests.append(request)
                path = request.split(b" ")[1].decode("ascii", "replace") if request.count(b" ") >= 2 else ""
                reply = self.replies.get(path)
            if reply is None:
                reply = Reply(http_response("404 Not Found", b"not here"))
            data = reply.data if reply.stall_after is None else reply.data[:reply.stall_after]
            try:
                client.sendall(data)
            except OSError:
                return
            if reply.stall_after is not None:
                self._stop.wait()


class FakeDateServer(FakeWebServer):
    """A web server whose clock is `offset` seconds from ours: each request on a kept-alive connection gets a redirect
    (or `status`) with its Date, or with `date` as the Date's text when given."""

    def __init__(self, host, offset=0.0, date=None):
        self.offset, self.date, self.status = offset, date, "302 Found"
        super().__init__(host)

    def _serve(self, client):
        with client, client.makefile("rb") as lines:
            client.settimeout(10)
            request = b""
            try:
                for line in lines:
                    request += line
                    if line != b"\r\n":
                        continue
                    with self._lock:
                        self.requests.append(request)
                    request = b""
                    date = self.date or email.utils.formatdate(time.time() + self.offset, usegmt=True)
                    client.sendall(f"HTTP/1.1 {self.status}\r\nDate: {date}\r\nLocation: /\r\n\r\n".encode())
            except OSError:
                return
