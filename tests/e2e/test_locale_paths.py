"""End-to-end tests of what depends on the machine's code page: the interface texts on a Windows whose ANSI code
page is not 936, and program file names whose code-page-936 bytes contain a backslash."""

import os
import shutil
import tempfile
import unittest

from . import harness
from .fake_time_server import TimeServers

IDC_AUTORUN = 1011
IDC_SAVE = 1013
WELCOME = "欢迎使用!"
ACCURATE = "时间准确！"
NOTICE_TITLE = "提示"
SAVED = "保存设置完成"
# A message box's text is a static control with this id.
MESSAGE_TEXT_ID = 0xFFFF
# Wine gives a process in this locale code page 1252, as on a Western Windows.
WESTERN_LOCALE = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
# U+904B is 0xDF 0x5C in code page 936: its second byte is a backslash.
SPLIT_NAMES = ("x\u904b.exe", "y\u904b.exe")
REPORT_TIMEOUT = 20

display = None


def setUpModule():
    global display
    display = harness.start_module()


def tearDownModule():
    if display is not None:
        display.stop()


class CodePageTestCase(unittest.TestCase):

    def setUp(self):
        self.servers = TimeServers()
        self.addCleanup(self.servers.stop)

    def launch(self, environment=None, **kwargs):
        program = harness.Program(display, **kwargs)
        self.addCleanup(program.stop)
        return program.start(environment).wait_window()


class WesternCodePageTest(CodePageTestCase):

    def test_panes_and_message_box_read_right(self):
        self.servers[1].answer(0)
        program = self.launch(WESTERN_LOCALE)
        panes = program.wait_panes(lambda p: len(p) == 3 and p[2] == ACCURATE, REPORT_TIMEOUT, "the report")
        self.assertEqual(panes[0], WELCOME)
        program.command(IDC_SAVE)
        harness.wait_until(lambda: harness.count_windows(display, NOTICE_TITLE) == 1, 10, "the save message box")
        code, lines, err = program.probe("children", "--title", NOTICE_TITLE)
        self.assertEqual(code, 0, err)
        texts = [line.split("\t", 3)[3] for line in lines if int(line.split("\t", 1)[0]) == MESSAGE_TEXT_ID]
        self.assertEqual(texts, [SAVED])
        program.key("enter", title=NOTICE_TITLE)


class SplitByteFileNameTest(CodePageTestCase):

    def test_settings_beside_the_program_and_a_mutex_of_its_whole_name(self):
        first_dir = tempfile.mkdtemp(prefix="tempvaro-e2e-")
        self.addCleanup(shutil.rmtree, first_dir, ignore_errors=True)
        # Under a split name the file would be looked for in a directory named after half a character.
        with open(os.path.join(first_dir, "NetTimeConfig.ini"), "wb") as settings:
            settings.write(b"[Config]\r\nAutoRun=1\r\n")
        first = self.launch(workdir=first_dir, name=SPLIT_NAMES[0])
        self.assertEqual(first.check_states()[IDC_AUTORUN], 1)

        # Another name that shares the bytes after the split runs beside it: the mutex is named after the whole name.
        second = harness.Program(display, name=SPLIT_NAMES[1])
        self.addCleanup(second.stop)
        second.start()
        harness.wait_until(lambda: harness.count_windows(display, harness.MAIN_TITLE) == 2, 30, "a second window")
        # The same name again ends at once.
        third = harness.Program(display, workdir=first_dir, name=SPLIT_NAMES[0])
        self.addCleanup(third.stop)
        third.start()
        self.assertEqual(third.wait_exit(), 0)
        self.assertTrue(first.running() and second.running())
