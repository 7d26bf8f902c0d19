"""An RFC 3161 time-stamp authority on loopback for the release tests: openssl's own `ts -reply` behind a minimal
HTTP server, with a time-stamping certificate made for the run."""

import http.server
import pathlib
import shutil
import subprocess
import tempfile
import threading

from .publishers import make_certificate

CONFIG = """[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {folder}/serial
signer_cert = {folder}/tsa.crt
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha1
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class TimeStampAuthority:
    """Answers time-stamp queries at `url` until stopped; `certificate` is the root to trust it by."""

    def __init__(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-tsa-"))
        _, self.certificate = make_certificate(self.folder, "tsa", usage="critical,timeStamping")
        (self.folder / "serial").write_text("01\n")
        config = self.folder / "tsa.cnf"
        config.write_text(CONFIG.format(folder=self.folder))
        folder = self.folder

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query, reply = folder / "query.tsq", folder / "reply.tsr"
                query.write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
                subprocess.run(["openssl", "ts", "-reply", "-config", str(config), "-queryfile", str(query),
                                "-out", str(reply)], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                data = reply.read_bytes()
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_port}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()
        shutil.rmtree(self.folder, ignore_errors=True)
