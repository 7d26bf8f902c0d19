"""Real servers from Debian's packages for the end-to-end tests' good paths, each started on a loopback address with a
configuration file of its own and ended by its process id: xinetd's built-in Time Protocol service, chrony's NTP
server and nginx."""

import pathlib
import shutil
import socket
import subprocess
import tempfile

from . import harness

START_TIMEOUT = 10


def accepts_tcp(address, port):
    with socket.socket() as probe:
        probe.settimeout(0.5)
        return probe.connect_ex((address, port)) == 0


def answers_ntp(address, port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.settimeout(0.5)
        probe.sendto(bytes([0x23]) + bytes(47), (address, port))
        try:
            return len(probe.recv(512)) >= 48
        except OSError:
            return False


def wait_listening(address, port, process, what, listening=accepts_tcp):
    def ready():
        if process.poll() is not None:
            raise AssertionError(f"{what} ended with code {process.returncode} before it listened")
        return listening(address, port)
    harness.wait_until(ready, START_TIMEOUT, f"{what} to listen on {address}:{port}")


class _Server:
    """A server process on `address` in a folder of its own, ended (by its id) and cleaned up on stop or on leaving
    a with."""

    def __init__(self, address):
        self.address = address
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-server-"))
        self.process = None

    def _run(self, command, port, what, listening=accepts_tcp):
        log = open(self.folder / "output.log", "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        log.close()
        try:
            wait_listening(self.address, port, self.process, what, listening)
        except AssertionError as error:
            output = (self.folder / "output.log").read_text(errors="replace")
            self.stop()
            raise AssertionError(f"{error}; it said:\n{output}") from None
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        if self.process is not None:
            harness.end_process(self.process)
            self.process = None
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class XinetdTimeServer(_Server):
    """xinetd's internal Time Protocol service (RFC 868 over TCP) on `address`, port 37."""

    def start(self):
        config = self.folder / "xinetd.conf"
        config.write_text(f"""defaults
{{
    instances = 10
}}
service time
{{
    type = INTERNAL
    id = time-stream
    socket_type = stream
    protocol = tcp
    wait = no
    user = root
    bind = {self.address}
    port = 37
}}
""")
        command = ["xinetd", "-dontfork", "-f", str(config), "-pidfile", str(self.folder / "xinetd.pid")]
        return self._run(command, 37, "xinetd")


class ChronyServer(_Server):
    """chrony serving its own clock (the machine's, never adjusted: -x) by NTP on `address`, port 123."""

    def start(self):
        config = self.folder / "chrony.conf"
        config.write_text(f"""local stratum 3
allow 127.0.0.0/8
bindaddress {self.address}
port 123
cmdport 0
pidfile {self.folder}/chronyd.pid
""")
        command = ["chronyd", "-x", "-d", "-u", "root", "-f", str(config)]
        return self._run(command, 123, "chronyd", answers_ntp)


class NginxSite(_Server):
    """nginx serving the folder `root` as it stands on `address`, port 80, as one process."""

    def __init__(self, address, root):
        super().__init__(address)
        self.root = pathlib.Path(root)

    def start(self):
        config = self.folder / "nginx.conf"
        config.write_text(f"""daemon off;
master_process off;
pid {self.folder}/nginx.pid;
error_log {self.folder}/error.log;
events {{ worker_connections 16; }}
http {{
    access_log {self.folder}/access.log;
    client_body_temp_path {self.folder}/body;
    server {{
        listen {self.address}:80;
        root {self.root};
    }}
}}
""")
        command = ["nginx", "-c", str(config), "-p", str(self.folder)]
        return self._run(command, 80, "nginx")

    def requests(self):
        """The request lines nginx logged, in order."""
        path = self.folder / "access.log"
        lines = path.read_text().splitlines() if path.exists() else []
        return [line.split('"')[1] for line in lines if line.count('"') >= 2]
