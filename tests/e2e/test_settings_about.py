"""End-to-end tests of the settings file, the log-on start, the About box and the web links: Tempvaro.exe under
wine64, its log-on task read back from Wine's stored task file and its browser replaced by a recording stand-in."""

import os
import pathlib
import pwd
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from . import harness
from .fake_time_server import FakeTimeServer, TimeServers

RECORD_RUN = pathlib.Path(os.environ.get("TEMPVARO_RECORD_RUN",
                                         harness.BUILD / "tests" / "tools" / "record_run.exe"))

SETTINGS_FILE = "NetTimeConfig.ini"
# The program names its user's task "Tempvaro-" and the user's SID; Wine's one user has a fixed SID.
TASK_PREFIX = "Tempvaro-S-1-5-"
WINE_USER_TASK = "Tempvaro-S-1-5-21-0-0-0-1000"

IDC_HOMEPAGE = 1002
IDC_AUTOSYNC = 1010
IDC_AUTORUN = 1011
IDC_MINIMIZED = 1012
IDC_SAVE = 1013
ID_GUESTBOOK = 40002
ID_ABOUT = 40003
ID_TIMESERVERS = 40004
IDC_SERVER1 = 1020
# A message box's text is a static control with this id.
MESSAGE_TEXT_ID = 0xFFFF

WELCOME = "欢迎使用!"
SETTING = "更新本机时间..."
SET_DONE = "成功更新本机时间"
SET_ACCURATE = "时间准确"
CHECK_ACCURATE = "时间准确！"
NOTICE_TITLE = "提示"
SAVED = "保存设置完成"
SAVE_FAILED = "保存设置失败!"
ABOUT_TITLE = "帮助"
SERVERS_TITLE = "时间服务器"
SERVERS_REFUSED = "他人能改设置文件，未用其中的服务器。"

HOMEPAGE = "http://tempvaro.test"
GUESTBOOK = "http://tempvaro.test/liuyanban/liuyanban.asp?id=13278"
ABOUT_CONTENTS = [
    ("Button", "访问软件主页tempvaro.test"),
    ("Static", "当前版本：Tempvaro V3.1"),
    ("Static", "发布日期：2013年10月"),
    ("Static", "联系邮箱：help@tempvaro.test"),
    ("Button", "关于"),
    ("Button", "说明"),
    ("Static", "1.访问时间服务器需要网络支持"),
    ("Static", "2.网络延迟会造成时间差"),
]

AUTO_SET_DELAY = 10.0
WINDOW_TIMEOUT = 10
# Long enough for a posted message to be handled, short against the automatic set's immediate status text.
SETTLE = 1.5

display = None


def setUpModule():
    global display
    display = harness.start_module(RECORD_RUN)
    # A task left by an earlier, interrupted run would make the cases pass or fail for the wrong reason.
    delete_task()


def tearDownModule():
    if display is not None:
        display.stop()


def windows_path(path):
    """The name Wine gives a Unix path through its Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def run_wine_tool(*args):
    """Runs one of Wine's own tools in the same prefix; returns (exit code, output). Through a file, as the probe
    does. On the tests' display: the first Wine process of a session binds the session's desktop to its display."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([harness.WINE, *args], stdout=out, stderr=subprocess.STDOUT,
                              env=dict(os.environ, DISPLAY=display.name), timeout=harness.PROBE_TIMEOUT).returncode
        out.seek(0)
        return code, out.read().decode("gbk", "replace")


def task_folder():
    system32 = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "system32"
    # Wine names the folder in lower case; Windows calls it Tasks.
    return next((folder for folder in system32.iterdir() if folder.name.lower() == "tasks"), system32 / "tasks")


def stored_tasks():
    """The names of the program's log-on tasks as Wine's Task Scheduler stored them."""
    folder = task_folder()
    return sorted(path.name for path in folder.glob(TASK_PREFIX + "*")) if folder.is_dir() else []


def create_task(name, folder):
    """Registers a log-on task of `name` through Wine's schtasks, as an earlier build left it."""
    xml = folder / "task.xml"
    xml.write_text('<Task xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"><Actions><Exec>'
                   f'<Command>{windows_path(folder / "Tempvaro.exe")}</Command></Exec></Actions></Task>', "utf-16")
    code, output = run_wine_tool("schtasks", "/create", "/xml", windows_path(xml), "/tn", name, "/f")
    assert code == 0 and stored_tasks() == [name], output


def delete_task():
    for name in stored_tasks():
        run_wine_tool("schtasks", "/delete", "/tn", name, "/f")


def settings_lines(program):
    return (program.workdir / SETTINGS_FILE).read_bytes().decode("ascii").splitlines()


class SettingsTestCase(unittest.TestCase):
    """Every program a test starts is ended when it finishes, and any log-on task it made is removed."""

    def setUp(self):
        self.addCleanup(delete_task)

    def launch(self, settings=None, workdir=None, environment=None):
        """Starts the program with `settings` (text) as its settings file; none when it is None."""
        program = harness.Program(display, workdir=workdir)
        self.addCleanup(program.stop)
        if settings is not None:
            (program.workdir / SETTINGS_FILE).write_bytes(settings.replace("\n", "\r\n").encode("ascii"))
        return program.start(environment).wait_window()

    def boxes(self, program):
        """The three option boxes' check states, by control id."""
        return program.check_states()

    def assertBoxes(self, program, autosync, autorun, minimized):
        self.assertEqual(self.boxes(program), {IDC_AUTOSYNC: autosync, IDC_AUTORUN: autorun, IDC_MINIMIZED: minimized})

    def window_state(self, program):
        """(iconic, visible) of the main window."""
        code, lines, err = program.probe("state")
        self.assertEqual(code, 0, err)
        iconic, visible = lines[0].split()
        return iconic == "1", visible == "1"

    def click(self, program, control):
        before = self.boxes(program)[control]
        code, _, err = program.probe("click", str(control))
        self.assertEqual(code, 0, err)
        harness.wait_until(lambda: self.boxes(program)[control] != before, 5, f"box {control} to change")

    def save(self, program):
        """Presses 保存设置 and closes the box that answers; returns its text."""
        code, _, err = program.probe("click", str(IDC_SAVE))
        self.assertEqual(code, 0, err)
        return self.answer_box(program, NOTICE_TITLE)

    def answer_box(self, program, title, behind=0):
        """Closes with OK the message box titled `title`, in front of `behind` windows so titled; returns its text."""
        harness.wait_until(lambda: harness.count_windows(display, title) == behind + 1, WINDOW_TIMEOUT,
                           f"the message box {title}")
        code, lines, err = harness.run_probe(display, "children", "--title", title, "--pid", str(program.win_pid))
        self.assertEqual(code, 0, err)
        texts = [line.split("\t", 3)[3] for line in lines if int(line.split("\t", 1)[0]) == MESSAGE_TEXT_ID]
        program.command(harness.IDOK, title=title)
        harness.wait_until(lambda: harness.count_windows(display, title) == behind, WINDOW_TIMEOUT,
                           "the message box to close")
        self.assertEqual(len(texts), 1, f"message box controls: {lines}")
        return texts[0]


class StartupSettingsTest(SettingsTestCase):

    def test_without_a_file_nothing_is_ticked_and_the_window_is_normal(self):
        program = self.launch()
        time.sleep(SETTLE)
        self.assertBoxes(program, autosync=0, autorun=0, minimized=0)
        self.assertEqual(self.window_state(program), (False, True))
        self.assertEqual(program.panes()[0], WELCOME, "no automatic set without the setting")
        self.assertFalse((program.workdir / SETTINGS_FILE).exists(), "reading the settings must not create the file")

    def test_minimised_setting_ticks_its_box_and_starts_the_window_minimised(self):
        program = self.launch("[Config]\nAutoRun=0\nAutoSetTime=0\nAutoXiao=1\n")
        self.assertBoxes(program, autosync=0, autorun=0, minimized=1)
        harness.wait_until(lambda: self.window_state(program)[0], 5, "the window to be minimised")
        time.sleep(SETTLE)
        self.assertEqual(self.window_state(program), (True, True), "the window should stay minimised")

    def test_section_name_case_is_ignored_only_0_or_1_change_a_box_and_a_task_it_cannot_judge_stays(self):
        # AutoXiao is missing, AutoSetTime is neither on nor off: both boxes stay as the window was made. Wine's Task
        # Scheduler gives back no task's user, actions or descriptor, so the start keeps the task an earlier build
        # left (the verdicts themselves are tested on descriptors and user ids) and the box shows the file's AutoRun=1.
        workdir = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-"))
        self.addCleanup(shutil.rmtree, workdir, True)
        create_task(WINE_USER_TASK, workdir)
        program = self.launch("[config]\nAutoRun=1\nAutoSetTime=2\n", workdir=workdir)
        time.sleep(SETTLE)
        self.assertEqual(stored_tasks(), [WINE_USER_TASK])
        self.assertEqual(settings_lines(program), ["[config]", "AutoRun=1", "AutoSetTime=2"])
        self.assertBoxes(program, autosync=0, autorun=1, minimized=0)
        self.assertEqual(program.panes()[0], WELCOME, "AutoSetTime=2 must not start the automatic set")
        self.assertFalse(self.window_state(program)[0])


class AutoSetTest(SettingsTestCase):

    def test_automatic_set_asks_server_three_ten_seconds_after_start_and_again_after_a_resume(self):
        servers = TimeServers()
        self.addCleanup(servers.stop)
        # Server 1 answers the startup check, server 3 the set; a set that asked server 1 first would show there.
        servers[1].answer(0)
        servers[3].answer(0)
        program = self.launch("[Config]\nAutoSetTime=1\n")
        program.wait_pane(0, SETTING, 5)
        self.assertEqual(self.boxes(program)[IDC_AUTOSYNC], 1)
        checked = program.wait_panes(lambda p: len(p) == 3 and p[2] == CHECK_ACCURATE, 8, "the startup check")
        self.assertEqual(checked[0], SETTING, "the set reported before its delay was up")
        self.assertLess(time.monotonic() - program.started, AUTO_SET_DELAY - 1)
        # A resume while that set waits starts no second one.
        self.assertEqual(program.probe("resume")[0], 0)

        panes = program.wait_panes(lambda p: p[0] != SETTING, 20, "the automatic set to end")
        ended = time.monotonic() - program.started
        self.assertEqual(panes[0], SET_DONE)
        self.assertEqual(panes[2], SET_ACCURATE)
        self.assertGreaterEqual(ended, AUTO_SET_DELAY - 1, "the set did not wait its ten seconds")
        self.assertLessEqual(ended, AUTO_SET_DELAY + 6)
        self.assertEqual(servers.connections(), {1: 1, 2: 0, 3: 1})
        # The check's connection comes as the window opens; the set's one the delay later.
        waited = servers[3].accept_times[0] - servers[1].accept_times[0]
        self.assertGreaterEqual(waited, AUTO_SET_DELAY - 1)
        self.assertLessEqual(waited, AUTO_SET_DELAY + 3)

        # Windows resumes from sleep: the same set again, ten seconds later.
        resumed = time.monotonic()
        self.assertEqual(program.probe("resume")[0], 0)
        program.wait_pane(0, SETTING, 5)
        panes = program.wait_panes(lambda p: p[0] != SETTING, 20, "the set after the resume to end")
        self.assertEqual(panes[0], SET_DONE)
        self.assertEqual(servers.connections(), {1: 1, 2: 0, 3: 2})
        self.assertGreaterEqual(servers[3].accept_times[1] - resumed, AUTO_SET_DELAY - 1)


class SaveSettingsTest(SettingsTestCase):

    def guarded_folder(self, parent):
        """A folder in `parent` with the program in it, both owned by another Unix user with mode 755: Wine reads
        them as what the user cannot change. Its name has a blank, as Program Files does."""
        workdir = parent / "Tempvaro Clock"
        workdir.mkdir()
        self.addCleanup(shutil.rmtree, workdir, True)
        shutil.copy2(harness.EXE, workdir / "Tempvaro.exe")
        self.give_to_nobody(workdir, workdir / "Tempvaro.exe")
        return workdir

    def give_to_nobody(self, *paths):
        nobody = pwd.getpwnam("nobody")
        for path in paths:
            before = path.stat()
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
            path.chmod(0o755)
            self.addCleanup(os.chown, path, before.st_uid, before.st_gid)

    def installed_folder(self):
        """The program in a folder of Wine's Program Files (x86), all owned by another user, as an installer
        leaves it on Windows."""
        program_files = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c" / "Program Files (x86)"
        self.give_to_nobody(program_files)
        return self.guarded_folder(program_files)

    def test_saving_writes_the_file_and_a_refused_log_on_start_unticks_its_box(self):
        # Wine reports a file of another Unix user as Anonymous logon's, which only administrators' may be: the
        # registration, refused here, is tested in the Windows tests.
        program = self.launch(workdir=self.installed_folder())
        self.click(program, IDC_AUTORUN)
        self.click(program, IDC_AUTOSYNC)
        self.assertEqual(self.save(program), SAVE_FAILED)
        self.assertEqual(settings_lines(program), ["[Config]", "AutoRun=0", "AutoSetTime=1", "AutoXiao=0"])
        self.assertEqual(stored_tasks(), [])
        self.assertEqual(self.boxes(program)[IDC_AUTORUN], 0)

        self.assertEqual(self.save(program), SAVED)
        self.assertEqual(settings_lines(program), ["[Config]", "AutoRun=0", "AutoSetTime=1", "AutoXiao=0"])

        # What was saved is what the next start shows.
        workdir = program.workdir
        keep = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-saved-"))
        self.addCleanup(shutil.rmtree, keep, True)
        shutil.copy2(workdir / SETTINGS_FILE, keep / SETTINGS_FILE)
        program.stop()
        again = self.launch(workdir=keep)
        self.assertBoxes(again, autosync=1, autorun=0, minimized=0)

    def test_log_on_start_is_refused_for_a_program_its_user_could_change_or_outside_program_files(self):
        # The program's own temporary folder belongs to the Wine user, as Downloads or the desktop would; the other
        # is another user's, but any folder above it could be renamed.
        elsewhere = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-"))
        self.addCleanup(shutil.rmtree, elsewhere, True)
        for workdir in (None, self.guarded_folder(elsewhere)):
            program = self.launch(workdir=workdir)
            self.click(program, IDC_AUTORUN)
            self.assertEqual(self.save(program), SAVE_FAILED)
            self.assertEqual(stored_tasks(), [])
            self.assertTrue(program.running())
            program.stop()

    def test_other_sections_and_keys_survive_a_save(self):
        program = self.launch("[General]\nLanguage=zh\n\n[config]\nAutoSetTime=0\nNote=keep me\n")
        self.click(program, IDC_MINIMIZED)
        self.assertEqual(self.save(program), SAVED)
        lines = [line for line in settings_lines(program) if line]
        self.assertEqual([line for line in lines if line.lower() == "[config]"], ["[config]"],
                         "the existing section is the one written to")
        sections = {}
        current = None
        for line in lines:
            if line.startswith("["):
                current = sections.setdefault(line.strip("[]").lower(), {})
            else:
                key, _, value = line.partition("=")
                current[key] = value
        self.assertEqual(sections["general"], {"Language": "zh"})
        self.assertEqual(sections["config"],
                         {"AutoSetTime": "0", "Note": "keep me", "AutoRun": "0", "AutoXiao": "1"})

    def test_settings_path_taken_by_a_directory_reports_failure(self):
        workdir = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-"))
        self.addCleanup(shutil.rmtree, workdir, True)
        (workdir / SETTINGS_FILE).mkdir()
        program = self.launch(workdir=workdir)
        self.assertBoxes(program, autosync=0, autorun=0, minimized=0)
        self.click(program, IDC_AUTOSYNC)
        self.assertEqual(self.save(program), SAVE_FAILED)
        self.assertTrue((workdir / SETTINGS_FILE).is_dir())
        self.assertTrue(program.running())


class TimeServersTest(SettingsTestCase):

    def enter_names(self, program, *names):
        for box, name in enumerate(names, IDC_SERVER1):
            code, _, err = program.probe("settext", f"{box}={name}", "--title", SERVERS_TITLE)
            self.assertEqual(code, 0, err)
        program.command(harness.IDOK, title=SERVERS_TITLE)

    def test_the_names_in_use_are_shown_checked_saved_and_asked_by_the_next_set(self):
        named = FakeTimeServer("127.0.0.14", mode="answer")  # ntp.tempvaro.test
        self.addCleanup(named.stop)
        program = self.launch("[Config]\nAutoXiao=0\nTimeServer1=ntp.tempvaro.test\n")
        program.command(ID_TIMESERVERS)
        harness.wait_until(lambda: harness.count_windows(display, SERVERS_TITLE) == 1, WINDOW_TIMEOUT, "the dialog")
        lines = program.probe("children", "--title", SERVERS_TITLE)[1]
        boxes = [fields[3] for fields in (line.split("\t") for line in lines) if fields[1:2] == ["Edit"]]
        self.assertEqual(boxes, ["ntp.tempvaro.test", "time-a-g.nist.gov", "time-b-g.nist.gov"])

        self.enter_names(program, " time.nist.gov ", "time_2.example", "ntp.tempvaro.test")
        self.assertIn("服务器2", self.answer_box(program, SERVERS_TITLE, behind=1))
        self.assertEqual(settings_lines(program)[2:], ["TimeServer1=ntp.tempvaro.test"], "one bad name saves nothing")

        self.enter_names(program, " TIME.nist.gov ", "", "ntp.tempvaro.test")
        harness.wait_until(lambda: harness.count_windows(display, SERVERS_TITLE) == 0, WINDOW_TIMEOUT, "OK to close")
        self.assertEqual(settings_lines(program), ["[Config]", "AutoXiao=0", "TimeServer3=ntp.tempvaro.test"])
        program.command(harness.IDOK)
        self.assertEqual(program.wait_panes(lambda p: p[0] not in (WELCOME, SETTING), 15, "the set")[0], SET_DONE)
        self.assertEqual(named.connections, 2, "the check's and the set's, which asks server 3 first")


    def test_a_file_of_another_owner_or_that_anyone_may_write_names_no_servers_and_the_dialog_says_why(self):
        for refuse in (lambda path: os.chown(path, pwd.getpwnam("nobody").pw_uid, -1), lambda path: path.chmod(0o666)):
            workdir = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-"))
            self.addCleanup(shutil.rmtree, workdir, True)
            (workdir / SETTINGS_FILE).write_bytes(b"[Config]\r\nAutoXiao=0\r\nTimeServer1=ntp.tempvaro.test\r\n")
            refuse(workdir / SETTINGS_FILE)
            program = self.launch(workdir=workdir)
            program.command(ID_TIMESERVERS)
            self.assertEqual(self.answer_box(program, SERVERS_TITLE, behind=1), SERVERS_REFUSED)
            lines = program.probe("children", "--title", SERVERS_TITLE)[1]
            boxes = [fields[3] for fields in (line.split("\t") for line in lines) if fields[1:2] == ["Edit"]]
            self.assertEqual(boxes, ["time.nist.gov", "time-a-g.nist.gov", "time-b-g.nist.gov"])
            program.stop()


class AboutAndLinksTest(SettingsTestCase):

    def launch_with_browser(self):
        """Starts the program with the recording stand-in as its browser; returns it and the record file."""
        workdir = pathlib.Path(tempfile.mkdtemp(prefix="tempvaro-e2e-"))
        self.addCleanup(shutil.rmtree, workdir, True)
        shutil.copy2(RECORD_RUN, workdir / "iexplore.exe")
        record = workdir / "record.txt"
        program = self.launch(workdir=workdir, environment={"TEMPVARO_RECORD": windows_path(record)})
        return program, record

    def opened_pages(self, program, record, count=1):
        """Waits for `count` browser starts and returns the address each was given."""
        def lines():
            text = record.read_text("utf-8") if record.exists() else ""
            done = text.splitlines() if text.endswith("\n") else []
            return done if len(done) >= count else None
        pages = []
        for line in harness.wait_until(lines, 10, f"{count} browser start(s)"):
            path, _, command_line = line.partition("\t")
            self.assertEqual(path, windows_path(program.workdir / "iexplore.exe"), "not the stand-in browser")
            arguments = re.fullmatch(r'("[^"]*"|\S+) (.*)', command_line)
            self.assertIsNotNone(arguments, f"browser command line {command_line!r}")
            pages.append(arguments.group(2))
        return pages

    def about_controls(self, program):
        code, lines, err = harness.run_probe(display, "children", "--title", ABOUT_TITLE, "--pid",
                                             str(program.win_pid))
        self.assertEqual(code, 0, err)
        return [line.split("\t", 3) for line in lines]

    def about_open(self, program):
        return any(window["title"] == ABOUT_TITLE and window["cls"] == "#32770" and window["visible"]
                   and window["pid"] == program.win_pid for window in harness.list_windows(display))

    def test_about_box_shows_its_texts_opens_the_homepage_and_closes_with_esc(self):
        program, record = self.launch_with_browser()
        program.command(ID_ABOUT)
        harness.wait_until(lambda: self.about_open(program), WINDOW_TIMEOUT, "the About box")
        controls = self.about_controls(program)
        self.assertEqual([(cls, text) for _, cls, _, text in controls], ABOUT_CONTENTS)
        self.assertEqual(int(controls[0][0]), IDC_HOMEPAGE)

        shot = display.screenshot(harness.SCREENSHOTS / "about.png", title=ABOUT_TITLE)
        size = subprocess.run(["identify", "-format", "%w %h %k", str(shot)], stdout=subprocess.PIPE, text=True,
                              check=True).stdout.split()
        width, height, colours = (int(value) for value in size)
        # The box alone, taller than wide as laid out, with text drawn in it.
        self.assertTrue(200 < width < height < 768, f"screenshot is {width}x{height}")
        self.assertGreater(colours, 16)

        program.key("enter", title=ABOUT_TITLE)
        self.assertEqual(self.opened_pages(program, record), [HOMEPAGE])
        time.sleep(SETTLE)
        self.assertTrue(self.about_open(program), "Enter must leave the About box open")
        self.assertEqual(len(record.read_text("utf-8").splitlines()), 1, "the homepage opened more than once")

        program.key("esc", title=ABOUT_TITLE)
        harness.wait_until(lambda: not self.about_open(program), WINDOW_TIMEOUT, "Esc to close the About box")
        self.assertTrue(program.running())
        self.assertEqual(harness.count_windows(display, harness.MAIN_TITLE, visible_only=True), 1)
        self.assertIsNotNone(program.panes(), "the main window should answer again")

    def test_guestbook_menu_opens_the_guestbook_page(self):
        program, record = self.launch_with_browser()
        program.command(ID_GUESTBOOK)
        self.assertEqual(self.opened_pages(program, record), [GUESTBOOK])
        self.assertEqual(harness.count_windows(display, harness.MAIN_TITLE, visible_only=True), 1)


if __name__ == "__main__":
    unittest.main()
