"""End-to-end tests of the update flow against a fake vendor web server that misbehaves: Tempvaro.exe under Wine,
signed by a test publisher made for the run. A build is offered only when it is newer, whole and signed by the same
publisher (the same name and the same key), its record names the build announced, and from the check to the launch
nobody can change it. Yes and No on a good release are tested against nginx in test_release_site."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

from . import harness
from .publishers import make_certificate, sign
from .fake_web_server import DOWNLOAD_PATH, VERSION_PATH, FakeWebServer, Reply, http_response

RECORD_RUN = pathlib.Path(os.environ.get("TEMPVARO_RECORD_RUN",
                                         harness.BUILD / "tests" / "tools" / "record_run.exe"))
OFFER_TITLE = "更新提示"
OFFER_TEXT = "软件有更新版本，您要更新吗！"
IDYES = 6
IDCANCEL = 2
MESSAGE_TEXT_ID = "65535"
# Probe, download of a small build, signature check and Wine's start-up.
OFFER_TIMEOUT = 30

display = None
keys = None


def retarget_record(source, target, name="TEMPVARO_RECORD", other="TEMPVARO_RECORX"):
    """A copy of a build, the same size, whose stand-in records into the file named by TEMPVARO_RECORX instead, so
    that a record tells which of the two ran; or with another text of the same length changed."""
    data = pathlib.Path(source).read_bytes()
    name, other = name.encode("utf-16-le"), other.encode("utf-16-le")
    assert data.count(name) == 1
    pathlib.Path(target).write_bytes(data.replace(name, other))
    return target


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def tamper(source, target):
    """A copy of a signed file with one byte of its code changed, so that its digest no longer matches."""
    data = bytearray(pathlib.Path(source).read_bytes())
    data[0x600] ^= 0xFF
    pathlib.Path(target).write_bytes(bytes(data))
    return target


class Builds:
    """The running program and the candidate builds, made once for the module."""

    def __init__(self):
        self.directory = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-update-"))
        ours = make_certificate(self.directory, "Publisher A")
        theirs = make_certificate(self.directory, "Publisher B")
        impostor = make_certificate(self.directory, "impostor", subject="Publisher A")
        self.program = sign(harness.EXE, self.directory / "Tempvaro-signed.exe", ours)
        self.good = sign(RECORD_RUN, self.directory / "good.exe", ours)
        self.other_publisher = sign(RECORD_RUN, self.directory / "other.exe", theirs)
        self.same_name_other_key = sign(RECORD_RUN, self.directory / "impostor.exe", impostor)
        self.tampered = tamper(self.good, self.directory / "tampered.exe")
        self.swapped = retarget_record(self.good, self.directory / "swapped.exe")
        self.unsigned = RECORD_RUN
        renamed = retarget_record(RECORD_RUN, self.directory / "renamed.exe", "Tempvaro.exe\0", "uninst.exe\0\0\0")
        self.uninstaller = sign(renamed, self.directory / "uninst.exe", ours)

    def remove(self):
        shutil.rmtree(self.directory, ignore_errors=True)


def setUpModule():
    global display, keys
    display = harness.start_module(RECORD_RUN)
    keys = Builds()


def tearDownModule():
    if display is not None:
        display.stop()
    if keys is not None:
        keys.remove()


class UpdateTest(unittest.TestCase):

    def setUp(self):
        self.server = FakeWebServer()
        self.addCleanup(self.server.stop)
        self.record = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-record-")) / "ran.txt"
        self.addCleanup(shutil.rmtree, self.record.parent, True)
        os.environ["TEMPVARO_RECORD"] = windows_path(self.record)

    def serve(self, version_page, build=None):
        self.server.set_reply(VERSION_PATH, Reply(http_response("200 OK", version_page)))
        if build is not None:
            self.server.set_reply(DOWNLOAD_PATH, Reply(http_response("200 OK", pathlib.Path(build).read_bytes())))

    def launch(self, exe=None):
        program = harness.Program(display, exe=exe or keys.program)
        self.addCleanup(program.stop)
        return program.start().wait_window()

    def offer_windows(self):
        return [w for w in harness.list_windows(display, include_hidden=False) if w["title"] == OFFER_TITLE]

    def runs(self):
        return self.record.read_text(encoding="utf-8").splitlines() if self.record.exists() else []

    def wait_offer(self, program):
        harness.wait_until(self.offer_windows, OFFER_TIMEOUT, "the update offer")
        code, lines, _ = program.probe("children", "--title", OFFER_TITLE)
        self.assertEqual(code, 0)
        texts = [line.split("\t")[3] for line in lines if line.split("\t")[0] == MESSAGE_TEXT_ID]
        self.assertEqual(texts, [OFFER_TEXT])

    def assert_never_offered(self, program):
        """Waits until the build has been fetched and judged, then checks it was neither offered nor opened."""
        target = program.workdir / "Chronvik.exe"
        harness.wait_until(lambda: DOWNLOAD_PATH in self.server.paths_requested(), OFFER_TIMEOUT, "the download")
        harness.wait_until(lambda: not target.exists(), 15, "the refused build to be deleted")
        time.sleep(3)
        self.assertEqual(self.offer_windows(), [])
        self.assertEqual(self.runs(), [])
        self.assertTrue(program.running())

    def assert_nothing_fetched(self, page):
        """With `page` served, the program asks for the version page only, and offers and keeps nothing."""
        self.serve(page, keys.good)
        program = self.launch()
        harness.wait_until(lambda: VERSION_PATH in self.server.paths_requested(), OFFER_TIMEOUT, "the probe")
        time.sleep(3)
        self.assertEqual(self.server.paths_requested(), [VERSION_PATH])
        self.assertEqual(self.offer_windows(), [])
        self.assertFalse((program.workdir / "Chronvik.exe").exists())

    def test_current_build_is_neither_downloaded_nor_offered(self):
        self.assert_nothing_fetched("zq31")

    def test_an_older_build_is_neither_downloaded_nor_offered(self):
        self.assert_nothing_fetched("zq30")

    def test_builds_from_anyone_else_and_other_files_of_ours_are_refused(self):
        # The last two are ours but not the build announced: the uninstaller, and build 32 announced as 33.
        for name in ("unsigned", "tampered", "other_publisher", "same_name_other_key", "uninstaller", "good"):
            with self.subTest(build=name):
                self.server.requests.clear()
                self.serve("zq33" if name == "good" else "zq32", getattr(keys, name))
                program = self.launch()
                try:
                    self.assert_never_offered(program)
                finally:
                    program.stop()  # the next build needs the program's single-instance name free

    def test_the_checked_build_cannot_be_swapped_before_it_is_opened(self):
        other_record = self.record.parent / "swapped.txt"
        os.environ["TEMPVARO_RECORX"] = windows_path(other_record)
        self.addCleanup(os.environ.pop, "TEMPVARO_RECORX")
        self.serve("zq32", keys.good)
        program = self.launch()
        self.wait_offer(program)
        # While the offer is up, another Windows process tries to overwrite the checked build with one of the same
        # size, to move it over it, to rename it away and to delete it.
        target = program.workdir / "Chronvik.exe"
        spare = program.workdir / "spare.exe"
        shutil.copy(keys.swapped, spare)
        self.assertEqual(target.stat().st_size, spare.stat().st_size)
        attempts = (f"copy /y {windows_path(keys.swapped)} {windows_path(target)} & "
                    f"move /y {windows_path(spare)} {windows_path(target)} & "
                    f"ren {windows_path(target)} gone.exe & del {windows_path(target)}")
        self.windows_command(attempts)
        self.assertFalse((program.workdir / "gone.exe").exists(), "renamed")
        self.assertTrue(target.exists(), "deleted")
        self.assertEqual(target.read_bytes(), keys.good.read_bytes(), "overwritten")

        program.command(IDYES, title=OFFER_TITLE)
        runs = harness.wait_until(self.runs, 15, "the new build to run")
        self.assertEqual(len(runs), 1)
        self.assertFalse(other_record.exists(), "the swapped build ran")
        # Once the build has been started the file is let go, and the same overwrite goes through.
        def overwritten():
            self.windows_command(f"copy /y {windows_path(keys.swapped)} {windows_path(target)}")
            return target.read_bytes() == keys.swapped.read_bytes()
        harness.wait_until(overwritten, 15, "the file to be let go")

    @staticmethod
    def windows_command(command):
        """Runs a command line in Wine's cmd: a Windows process under the same wineserver as the program, so that
        the program's sharing rules apply to it (a write from Linux would bypass them)."""
        subprocess.run([harness.WINE, "cmd", "/c", command], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, timeout=30)

    def test_an_unsigned_program_trusts_no_build(self):
        self.serve("zq32", keys.good)
        program = self.launch(exe=harness.EXE)
        self.assert_never_offered(program)

    def test_closing_the_program_during_a_download_leaves_no_partial_build(self):
        whole = http_response("200 OK", keys.good.read_bytes())
        self.server.set_reply(VERSION_PATH, Reply(http_response("200 OK", "zq32")))
        self.server.set_reply(DOWNLOAD_PATH, Reply(whole, stall_after=len(whole) // 2))
        program = self.launch()
        target = program.workdir / "Chronvik.exe"
        harness.wait_until(target.exists, OFFER_TIMEOUT, "the download to begin")
        # Well within the download's ten-second wait: the file goes because the process ended, not by a time-out.
        time.sleep(1)
        program.command(IDCANCEL)
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(self.runs(), [])
        self.assertFalse(target.exists(), "the partial build was left behind")


if __name__ == "__main__":
    unittest.main()
