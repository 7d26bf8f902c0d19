"""End-to-end test of a release as the vendor publishes it: scripts/release.sh signs the build with a test publisher
made for the run, nginx serves its update-site/ as it stands, and an older build of the program, signed by the same
publisher, finds the release, downloads it byte for byte, offers it and starts it."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from . import harness, real_servers
from .publishers import make_certificate, make_pkcs12, sign
from .time_stamp_authority import TimeStampAuthority

VENDOR_ADDRESS = "127.0.0.20"
SITE_FOLDER = "soft/Chronvik"
OFFER_TITLE = "更新提示"
IDYES = 6
IDNO = 7
OLDER_VERSION = "3.0"
# Probe, download and signature check, with Wine's start-up.
OFFER_TIMEOUT = 40

display = None
release = None


def run_release(bundle, dist, **environment):
    return subprocess.run([str(harness.ROOT / "scripts" / "release.sh"), str(bundle)], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True,
                          env=dict(os.environ, TEMPVARO_DIST=str(dist), TEMPVARO_SKIP_SETUP="1",
                                   TEMPVARO_SIGN_PASSWORD="", **environment))


def time_stamp_report(program, certificate, time_stamp_root):
    """What osslsigncode says of a signed program's time stamp."""
    return subprocess.run(["osslsigncode", "verify", "-in", str(program), "-CAfile", str(certificate),
                           "-TSA-CAfile", str(time_stamp_root)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True).stdout


class Release:
    """dist/ made by scripts/release.sh with a time stamp, and an older build of the same sources signed by the same
    publisher."""

    def __init__(self):
        self.directory = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-release-"))
        publisher = make_certificate(self.directory, "Release Publisher")
        certificate = publisher[1]
        bundle = make_pkcs12(publisher)
        self.dist = self.directory / "dist"
        authority = TimeStampAuthority()
        try:
            run_release(bundle, self.dist, TEMPVARO_TIMESTAMP_URL=authority.url,
                        TEMPVARO_TIMESTAMP_CAFILE=str(authority.certificate)).check_returncode()
            self.time_stamp = time_stamp_report(self.dist / "update-site" / SITE_FOLDER / "Chronvik.exe",
                                                certificate, authority.certificate)
        finally:
            authority.stop()
        self.site = self.dist / "update-site"
        self.published = self.site / SITE_FOLDER / "Chronvik.exe"
        self.older = self.directory / "Tempvaro.exe"
        build = self.directory / "older-build"
        subprocess.run(["cmake", "-S", str(harness.ROOT), "-B", str(build),
                        "--toolchain", str(harness.ROOT / "cmake" / "mingw-i686.cmake"),
                        "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DBUILD_TESTING=OFF", f"-DTEMPVARO_VERSION={OLDER_VERSION}"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build), "-j2", "--target", "Tempvaro"], check=True,
                       stdout=subprocess.DEVNULL)
        sign(build / "Tempvaro.exe", self.older, publisher)

    def remove(self):
        shutil.rmtree(self.directory, ignore_errors=True)


def setUpModule():
    harness.check_isolation()


class PublishedReleaseTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        global display, release
        if harness.image_machine(harness.EXE) != "x86":
            raise unittest.SkipTest("the release is a 32-bit build, which this machine cannot run")
        release = Release()
        cls.addClassCleanup(release.remove)
        display = harness.start_module()
        cls.addClassCleanup(display.stop)

    def setUp(self):
        self.site = real_servers.NginxSite(VENDOR_ADDRESS, release.site).start()
        self.addCleanup(self.site.stop)
        self.program = harness.Program(display, exe=release.older)
        self.addCleanup(self.program.stop)
        self.program.start().wait_window()
        harness.wait_until(lambda: harness.count_windows(display, OFFER_TITLE, visible_only=True) == 1,
                           OFFER_TIMEOUT, "the update offer")
        self.downloaded = self.program.workdir / "Chronvik.exe"

    def test_the_published_build_is_fetched_whole_and_started_on_yes(self):
        self.assertIn("Timestamp Server Signature verification: ok", release.time_stamp)
        self.assertEqual(self.downloaded.read_bytes(), release.published.read_bytes())
        self.assertEqual(self.site.requests(), [f"GET /{SITE_FOLDER}/Chronvik.asp?id=711 HTTP/1.1",
                                                f"GET /{SITE_FOLDER}/Chronvik.exe HTTP/1.1"])
        self.program.command(IDYES, title=OFFER_TITLE)
        # The new build is the real program: a second main window, under its own file name and so its own mutex.
        windows = harness.wait_until(
            lambda: [w for w in harness.list_windows(display) if w["title"] == harness.MAIN_TITLE
                     and w["pid"] != self.program.win_pid], 30, "the new build's window")
        self.addCleanup(harness.run_probe, display, "close", "--pid", str(windows[0]["pid"]))
        self.assertTrue(self.program.running())

    def test_no_leaves_the_build_and_starts_nothing(self):
        self.program.command(IDNO, title=OFFER_TITLE)
        harness.wait_until(lambda: harness.count_windows(display, OFFER_TITLE) == 0, 10, "the offer to close")
        self.assertEqual(self.downloaded.read_bytes(), release.published.read_bytes())
        self.assertEqual(harness.count_windows(display, harness.MAIN_TITLE), 1)


class RefusedReleaseTest(unittest.TestCase):

    def test_a_signature_windows_would_refuse_is_never_published(self):
        # Signed with a web server's certificate: the signature is there, but it does not verify for code.
        directory = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-release-"))
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        bundle = make_pkcs12(make_certificate(directory, "Web Server", usage="serverAuth"))
        result = run_release(bundle, directory / "dist")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("nothing is published", result.stderr)
        self.assertFalse((directory / "dist").exists())

    def test_a_time_stamp_from_an_authority_nobody_trusts_is_never_published(self):
        directory = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-release-"))
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        bundle = make_pkcs12(make_certificate(directory, "Release Publisher"))
        authority = TimeStampAuthority()
        self.addCleanup(authority.stop)
        result = run_release(bundle, directory / "dist", TEMPVARO_TIMESTAMP_URL=authority.url)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("nothing is published", result.stderr)
        self.assertFalse((directory / "dist").exists())
