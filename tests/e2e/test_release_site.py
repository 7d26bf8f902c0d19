"""End-to-end test of a release as the vendor publishes it: scripts/release.sh signs the build with a test publisher
made for the run, nginx serves its update-site/ as it stands, and an older build of the program, signed by the same
publisher, finds the release, downloads it byte for byte, offers it and starts it."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile
from unittest import mock

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
X86 = harness.image_machine(harness.EXE) == "x86"
PRESET, TOOLCHAIN = ("windows-x86", "mingw-i686") if X86 else ("windows-x64", "mingw-x86_64")


def run_release(bundle, dist, **environment):
    return subprocess.run([str(harness.ROOT / "scripts" / "release.sh"), str(bundle)], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True,
                          env=dict(os.environ, TEMPVARO_DIST=str(dist), TEMPVARO_SKIP_SETUP="1",
                                   TEMPVARO_SIGN_PASSWORD="", TEMPVARO_RELEASE_PRESET=PRESET, **environment))


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
            self.setup = next(self.dist.glob("*setup.exe"))
            self.time_stamp = time_stamp_report(self.setup, certificate, authority.certificate)
        finally:
            authority.stop()
        # The x86-64 release publishes no update site; its signed program is served as the site would serve it.
        self.site = self.dist / "update-site" if X86 else self.directory / "update-site"
        self.published = self.site / SITE_FOLDER / "Chronvik.exe"
        if not X86:
            self.published.parent.mkdir(parents=True)
            with zipfile.ZipFile(next(self.dist.glob("*.zip"))) as archive:
                self.published.write_bytes(archive.read("Tempvaro.exe"))
            (self.site / SITE_FOLDER / "Chronvik.asp").write_text("zq31")
        self.older = self.directory / "Tempvaro.exe"
        build = self.directory / "older-build"
        subprocess.run(["cmake", "-S", str(harness.ROOT), "-B", str(build),
                        "--toolchain", str(harness.ROOT / "cmake" / f"{TOOLCHAIN}.cmake"),
                        "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DBUILD_TESTING=OFF", f"-DTEMPVARO_VERSION={OLDER_VERSION}"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build), "-j2", "--target", "Tempvaro"], check=True,
                       stdout=subprocess.DEVNULL)
        sign(build / "Tempvaro.exe", self.older, publisher)

    def remove(self):
        shutil.rmtree(self.directory, ignore_errors=True)


def setUpModule():
    global display, release
    display = harness.start_module()
    unittest.addModuleCleanup(display.stop)
    release = Release()
    unittest.addModuleCleanup(release.remove)


class PublishedReleaseTest(unittest.TestCase):

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
        self.assertEqual((release.dist / "update-site").exists(), X86, "only the 32-bit release has an update site")
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


def wine(*command, **environment):
    """Runs a Windows program on the display (a session's first process sets it for all); returns code and output."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([harness.WINE, *map(str, command)], stdout=out, stderr=out, timeout=120,
                              env=dict(os.environ, DISPLAY=display.name, **environment)).returncode
        return code, out.seek(0) or out.read().decode("utf-8", "replace")


# The install folder's owner and permissions: Administrators', full control for SYSTEM, Administrators and
# TrustedInstaller, read and run for Users, nothing inherited.
FOLDER_SDDL = ("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
               "(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;OICI;0x1200a9;;;BU)")


# The guide as a setup before it was renamed installed it: a UTF-8 byte-order mark and Windows line ends.
OLD_GUIDE_BLOB = "a672d6ff71560cdced12f634a4f5b7fc0953e100"


def old_guide():
    guide = subprocess.run(["git", "-C", str(harness.ROOT), "cat-file", "blob", OLD_GUIDE_BLOB], check=True,
                           stdout=subprocess.PIPE).stdout
    return b"\xef\xbb\xbf" + guide.replace(b"\n", b"\r\n")


class InstallerTest(unittest.TestCase):

    def test_the_setup_installs_replaces_a_running_copy_uninstalls_what_it_made_and_asks_before_other_folders(self):
        prefix = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="tempvaro-prefix-")))
        self.enterContext(mock.patch.dict(os.environ, WINEPREFIX=str(prefix), TEMPVARO_WINEPREFIX=str(prefix)))
        self.addCleanup(subprocess.run, [os.environ["WINESERVER"], "-k"])
        subprocess.run([harness.ROOT / "tests/wine/prepare_prefix.sh"], check=True)
        folder = prefix / "drive_c" / ("Program Files (x86)" if X86 else "Program Files") / "Tempvaro"
        shortcut = prefix / "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tempvaro.lnk"
        view = "/reg:32" if X86 else "/reg:64"
        uninstall = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempvaro"
        # A time server that is no host name stops the silent setup before it installs anything.
        for name in ("ntp_1.example", "a..b", "x" * 64 + ".example", "ｎｔｐ.example", "http://", "http://a_b",
                     "ftp://ntp.example"):
            self.assertEqual(wine(release.setup, "/S", f"/SERVER2={name}")[0], 87, name)
        self.assertFalse(folder.exists())
        self.assertEqual(wine(release.setup, "/S"), (0, ""))
        self.assertTrue(shortcut.exists() and '\\uninst.exe" /S' in wine("reg", "query", uninstall, view)[1])
        running = harness.Program(display, workdir=folder).start().wait_window()
        (folder / "NetTimeConfig.ini").write_text("[Config]\nAutoXiao=1\nTimeServer3=old.example\n")
        (folder / "README.txt").write_bytes(old_guide())
        # The folder by its short name is the same folder, inside Program Files.
        listing = wine("cmd", "/c", "dir", "/x", "C:\\")[1]
        short = re.search(r"<DIR>\s+(\S+)\s+" + re.escape(folder.parent.name) + r"\s*$", listing, re.M)[1]
        self.assertEqual(wine(release.setup, "/S", "/SERVER1=HTTP://ntp-1.tempvaro.test", "/SERVER3=",
                              rf"/D=C:\{short}\Tempvaro")[0], 0)
        self.assertIn(rf"C:\{folder.parent.name}\Tempvaro", wine("reg", "query", uninstall, view)[1])
        self.assertFalse((folder / "README.txt").exists(), "the guide an earlier setup installed")
        self.assertTrue(running.running())
        self.assertEqual((folder / "NetTimeConfig.ini").read_text().split(),
                         ["[Config]", "AutoXiao=1", "TimeServer1=http://ntp-1.tempvaro.test"])
        self.assertEqual((folder / "Tempvaro.exe").read_bytes(), release.published.read_bytes())
        running.stop()
        (folder / "wine.log").unlink()
        # What the program and earlier setups leave: a download, the old guide and the log-on tasks of Wine's one user
        # and of earlier builds.
        shutil.copy(release.published, folder / "Chronvik.exe")
        (folder / "README.txt").write_bytes(old_guide())
        task = '<Task xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"><Actions><Exec><Command>x</Command>'
        (prefix / "drive_c/task.xml").write_text(task + "</Exec></Actions></Task>", "utf-16")
        for name in ("Tempvaro-S-1-5-21-0-0-0-1000", "Tempvaro", "Tempvarox"):
            code, output = wine("schtasks", "/create", "/xml", r"C:\task.xml", "/tn", name, "/f")
            self.assertEqual(code, 0, output)
        self.assertEqual(wine(folder / "uninst.exe", "/S")[0], 0)
        # The uninstaller goes on in a copy of itself; then a restart deletes the copy replaced while it ran.
        subprocess.run([os.environ["WINESERVER"], "-w"], timeout=60)
        wine("wineboot", "-r")
        self.assertFalse(folder.exists() or shortcut.exists())
        self.assertNotEqual(wine("reg", "query", uninstall, view)[0], 0)
        self.assertEqual([t.name for t in (prefix / "drive_c/windows/system32/tasks").glob("Tempvaro*")], ["Tempvarox"])

        # Outside Program Files a silent setup needs its switch, and one more where others may change a folder above,
        # as Wine shows every folder; it takes no folder that holds another program's files, and otherwise changes
        # nothing. Wine keeps no permissions set on a folder, so the calls that set them are read from Wine's trace,
        # and that they succeeded from the exit code.
        tools = prefix / "drive_c" / "Tools"
        tools.mkdir()
        (tools / "README.txt").write_text("someone else's")
        for switches in (["/ALLOWANYFOLDER", r"/D=C:\Tools"], [r"/D=C:\Tools\Apps\Tempvaro"],
                         ["/ALLOWANYFOLDER", r"/D=C:\Tools\Apps\Tempvaro"]):
            self.assertEqual(wine(release.setup, "/S", *switches)[0], 2, switches)
        self.assertEqual([path.name for path in tools.iterdir()], ["README.txt"])
        self.assertNotEqual(wine("reg", "query", uninstall, view)[0], 0)
        code, trace = wine(release.setup, "/S", "/ALLOWANYFOLDER", "/ALLOWWRITABLEPARENTS",
                           r"/D=C:\Tools\Apps\Tempvaro", WINEDEBUG="trace+advapi,trace+security")
        self.assertEqual(code, 0)
        self.assertIn(f'ConvertStringSecurityDescriptorToSecurityDescriptorW L"{FOLDER_SDDL}", 1,', trace)
        # Owner and protected DACL (0x80000005), both taken from that descriptor, for the folder and everything in
        # it, explicit entries not kept.
        self.assertRegex(trace, r'(?i)TreeResetNamedSecurityInfoW \(L"C:\\\\Tools\\\\Apps\\\\Tempvaro", 1, '
                                r'-2147483643, 0*[1-9a-f]\w*, 0+, 0*[1-9a-f]\w*, 0+, 0, 0+, 1, 0+\)')
        installed = tools / "Apps" / "Tempvaro"
        self.assertEqual(sorted(path.name for path in installed.iterdir()),
                         ["Tempvaro 使用说明.txt", "Tempvaro.exe", "uninst.exe"])
        (installed / "README.txt").write_text("someone else's")
        self.assertEqual(wine(installed / "uninst.exe", "/S")[0], 0)
        subprocess.run([os.environ["WINESERVER"], "-w"], timeout=60)
        self.assertEqual([path.name for path in installed.iterdir()], ["README.txt"])

    def test_a_failed_setup_puts_back_the_quiet_uninstall_waits_and_folders_in_program_files_are_checked(self):
        prefix = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="tempvaro-prefix-")))
        self.enterContext(mock.patch.dict(os.environ, WINEPREFIX=str(prefix), TEMPVARO_WINEPREFIX=str(prefix)))
        self.addCleanup(subprocess.run, [os.environ["WINESERVER"], "-k"])
        subprocess.run([harness.ROOT / "tests/wine/prepare_prefix.sh"], check=True)
        programs = prefix / "drive_c" / ("Program Files (x86)" if X86 else "Program Files")
        folder = programs / "Tempvaro"
        uninstall = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempvaro"
        view = "/reg:32" if X86 else "/reg:64"
        self.assertEqual(wine(release.setup, "/S")[0], 0)

        # No file can be made in the folder beyond the one spare: the program is written, the guide and the uninstaller
        # are not, and the earlier install is put back as it was.
        earlier = {path.name: path.read_bytes() for path in folder.iterdir()} | {"uninst.exe": b"earlier"}
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"nr_inodes={len(earlier) + 2}", "tempvaro", str(folder)],
                       check=True)
        self.addCleanup(subprocess.run, ["umount", "-q", "-l", str(folder)], stderr=subprocess.DEVNULL)
        for name, content in earlier.items():
            (folder / name).write_bytes(content)
        self.assertEqual(wine("reg", "add", uninstall, "/v", "DisplayVersion", "/d", "3.0", "/f", view)[0], 0)
        self.assertEqual(wine(release.setup, "/S")[0], 2)
        self.assertEqual({path.name: path.read_bytes() for path in folder.iterdir()}, earlier)
        self.assertIn("3.0", wine("reg", "query", uninstall, "/v", "DisplayVersion", view)[1])
        subprocess.run(["umount", str(folder)], check=True)

        # The registered quiet uninstall, run as a fleet tool runs it, returns when it is done; the next setup stays.
        command = re.search(r"QuietUninstallString\s+REG_SZ\s+(.+)", wine("reg", "query", uninstall, view)[1])[1]
        (prefix / "drive_c/uninstall.bat").write_text(command.strip() + "\r\nexit /b %errorlevel%\r\n")
        self.assertEqual(wine("cmd", "/c", r"C:\uninstall.bat")[0], 0)
        self.assertFalse(folder.exists())
        self.assertEqual(wine(release.setup, "/S")[0], 0)
        subprocess.run([os.environ["WINESERVER"], "-w"], timeout=60)
        self.assertEqual(sorted(path.name for path in folder.iterdir()),
                         ["Tempvaro 使用说明.txt", "Tempvaro.exe", "uninst.exe"])
        self.assertIn(r"Tempvaro\uninst.exe", wine("reg", "query", uninstall, view)[1])

        # A folder in Program Files that Wine shows others may change is refused, one the setup makes is its own.
        listing = wine("cmd", "/c", "dir", "/x", "C:\\")[1]
        short = re.search(r"<DIR>\s+(\S+)\s+" + re.escape(programs.name) + r"\s*$", listing, re.M)[1]
        (programs / "Vendor").mkdir()
        self.assertEqual(wine(release.setup, "/S", rf"/D=C:\{short}\Vendor\Tempvaro")[0], 2)
        self.assertEqual(list((programs / "Vendor").iterdir()), [])
        self.assertEqual(wine(release.setup, "/S", rf"/D=C:\{short}\New\Tempvaro")[0], 0)
        self.assertEqual(wine(release.setup, "/S", "/ALLOWWRITABLEPARENTS", rf"/D=C:\{short}\Vendor\Tempvaro")[0], 0)
        # A link where a folder above was is refused when the folder is locked, and what the setup made is gone; a Unix
        # link stands in for a junction, which Wine does not have.
        (prefix / "drive_c/Elsewhere").mkdir()
        (programs / "Link").symlink_to("../Elsewhere")
        self.assertEqual(wine(release.setup, "/S", "/ALLOWWRITABLEPARENTS", rf"/D=C:\{short}\Link\Tempvaro")[0], 2)
        self.assertEqual(list((prefix / "drive_c/Elsewhere").iterdir()), [])
