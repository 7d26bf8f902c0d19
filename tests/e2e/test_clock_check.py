"""End-to-end tests of the clock check, the manual sync and the main window: Tempvaro.exe under Wine against a real
Time Protocol server and fake ones that misbehave, on loopback; also under a Western code page and under program
names whose code-page-936 bytes hold a backslash."""

import os
import pathlib
import re
import shutil
import tempfile
import subprocess
import time
import unittest

from . import harness, real_servers
from .fake_time_server import EPOCH_1900_TO_1970, FakeSntpServer, FakeTimeServer, SilentAddress, TimeServers
from .fake_web_server import FakeDateServer

WELCOME = "欢迎使用!"
CONNECTING = "正在连接时间服务器......"
CONNECT_FAILED = "连接时间服务器失败,请检查网络!"
CLOCK_BUSY = "另一个对时正在进行,请稍后再试!"
ACCURATE = "时间准确！"
SETTING = "更新本机时间..."
SET_DONE = "成功更新本机时间"
SET_ACCURATE = "时间准确"
SET_FAILED = "更新本机时间失败!"
SET_TOO_FAR = "更新本机时间失败,时间服务器的时间相差太大!"
# Wine refuses to move its clock by half a second or more, and says by how much it was asked to.
REFUSED_SET = re.compile(r"NtSetSystemTime not allowed: difference (-?\d+) ms")

IDC_MINIMIZED = 1012
IDC_SAVE = 1013
NOTICE_TITLE = "提示"
SAVED = "保存设置完成"
# A message box's text is a static control with this id.
MESSAGE_TEXT_ID = 0xFFFF
# Wine gives a process in this locale code page 1252, as on a Western Windows.
WESTERN_LOCALE = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
# U+904B is 0xDF 0x5C in code page 936: its second byte is a backslash.
SPLIT_NAMES = ("x\u904b.exe", "y\u904b.exe")

ONE_DAY = 86400
# Three bounded attempts, answer alignment and Wine's start-up, with room to spare.
REPORT_TIMEOUT = 25
# What tests/wine/hosts maps the three time servers' names to.
SERVER_ADDRESSES = {1: "127.0.0.11", 2: "127.0.0.12", 3: "127.0.0.13"}
SERVER_ATTEMPT = 5.0
PANE_BORDERS = 5  # around a pane's text: a one-pixel sunken edge on each side, and three pixels before the text
CLOCK_FORMAT = re.compile(r"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}$")

display = None


def setUpModule():
    global display
    display = harness.start_module()


def tearDownModule():
    if display is not None:
        display.stop()


def slow(days=0, hours=0, minutes=0, seconds=0):
    return f"本机时间慢了0年0月{days}日{hours}时{minutes}分{seconds}秒"


def fast(days=0, hours=0, minutes=0, seconds=0):
    return f"本机时间快了0年0月{days}日{hours}时{minutes}分{seconds}秒"


def offset(days=0, hours=0, minutes=0, seconds=0):
    return ((days * 24 + hours) * 60 + minutes) * 60 + seconds


class TempvaroTestCase(unittest.TestCase):
    """Fresh servers (all absent) for each test; every program a test starts is ended when it finishes."""

    def setUp(self):
        self.servers = TimeServers()
        self.addCleanup(self.servers.stop)

    def launch(self, environment=None, **kwargs):
        program = harness.Program(display, **kwargs)
        self.addCleanup(program.stop)
        return program.start(environment).wait_window()

    def settings_folder(self, servers):
        workdir = harness.settings_folder(servers)
        self.addCleanup(shutil.rmtree, workdir, ignore_errors=True)
        return workdir

    def wait_report(self, program, timeout=REPORT_TIMEOUT):
        """Waits until the check has a result in pane 2; returns the panes."""
        return program.wait_panes(lambda panes: len(panes) == 3 and panes[2] not in ("", CONNECTING), timeout,
                                  "the clock check's result")


class StartupCheckTest(TempvaroTestCase):

    def check_report(self, server_offset, expected):
        self.servers[1].answer(server_offset)
        panes = self.wait_report(self.launch())
        self.assertEqual(panes[2], expected)
        self.assertEqual(panes[0], WELCOME)
        self.assertEqual(self.servers.connections(), {1: 1, 2: 0, 3: 0})

    def test_server_ahead_reports_machine_slow(self):
        self.check_report(offset(days=1, hours=2, minutes=3, seconds=5), slow(days=1, hours=2, minutes=3, seconds=5))

    def test_server_behind_reports_machine_fast(self):
        self.check_report(-offset(hours=1, minutes=2, seconds=3), fast(hours=1, minutes=2, seconds=3))

    def test_a_real_time_server_finds_the_clock_accurate(self):
        # xinetd's own Time Protocol service on the first server's address; the machine's clock is the same clock,
        # and the whole second it sends is centred, wherever in that second it was sent.
        with real_servers.XinetdTimeServer(SERVER_ADDRESSES[1]).start():
            panes = self.wait_report(self.launch())
        self.assertEqual(panes[2], ACCURATE)
        self.assertEqual(panes[0], WELCOME)

    def test_an_ntp_only_server_answers_at_once_while_port_37_is_swallowed(self):
        for number in (1, 2, 3):
            self.servers[number].silent()
        with real_servers.ChronyServer(SERVER_ADDRESSES[2]).start():
            program = self.launch()
            shown = time.monotonic()
            panes = self.wait_report(program)
            reported = time.monotonic()
        self.assertEqual(panes[2], ACCURATE)
        # A second of the walk, a quarter of one for the other servers' SNTP answers, and polling.
        self.assertLess(reported - shown, 3.0, "the SNTP round waited for the port-37 walk")
        # Server 1's SNTP is refused at once: the walk may have reached its port 37 before chrony answered.
        self.assertIn(self.servers.connections(), ({1: 0, 2: 0, 3: 0}, {1: 1, 2: 0, 3: 0}))

    def test_answer_delivered_in_pieces_is_assembled(self):
        self.servers[1].split(-offset(seconds=5))
        panes = self.wait_report(self.launch())
        self.assertEqual(panes[2], fast(seconds=5))

    def test_no_server_listening_reports_connection_failure(self):
        panes = self.wait_report(self.launch())
        self.assertEqual(panes[2], CONNECT_FAILED)
        self.assertEqual(panes[0], WELCOME)

    def test_silent_server_is_given_up_after_its_bound(self):
        self.servers[1].silent()
        self.servers[2].answer(-offset(seconds=7))
        self.servers[3].answer(offset(seconds=11))
        program = self.launch()
        panes = self.wait_report(program)
        reported = time.monotonic()
        self.assertEqual(panes[2], fast(seconds=7))
        self.assertEqual(self.servers[3].connections, 0)
        first = self.servers[1].accept_times[0]
        second = self.servers[2].accept_times[0]
        self.assertGreaterEqual(second - first, SERVER_ATTEMPT - 0.5, "server 2 asked before server 1's time ran out")
        self.assertLess(second - first, SERVER_ATTEMPT + 1.0, "server 1 held on to past its bound")
        # Server 2 takes up to a second to align its answer; the rest is polling.
        self.assertLess(reported - first, SERVER_ATTEMPT + 3.0)

    def test_early_close_and_short_answer_count_as_no_answer(self):
        self.servers[1].close_early()
        self.servers[2].short()
        self.servers[3].answer(offset(seconds=7))
        panes = self.wait_report(self.launch())
        self.assertEqual(panes[2], slow(seconds=7))
        self.assertEqual(self.servers.connections(), {1: 1, 2: 1, 3: 1})
        # A connection that has ended must not be waited on until its time runs out.
        self.assertLess(self.servers[3].accept_times[0] - self.servers[1].accept_times[0], 2.0)


class SntpTest(TempvaroTestCase):
    """Port 37 refused or answering, and SNTP servers on the same three addresses."""

    def setUp(self):
        super().setUp()
        self.sntp = {number: FakeSntpServer(address) for number, address in SERVER_ADDRESSES.items()}
        for server in self.sntp.values():
            self.addCleanup(server.stop)

    def requests(self):
        return {number: server.requests for number, server in self.sntp.items()}

    def test_sntp_is_asked_from_the_start_and_port_37_not_at_all_when_it_answers(self):
        for number in SERVER_ADDRESSES:
            self.servers[number].answer(-offset(seconds=5))
            self.sntp[number].answer(0)
        self.assertEqual(self.wait_report(self.launch())[2], ACCURATE)
        self.assertEqual(self.requests(), {1: 1, 2: 1, 3: 1})
        self.assertEqual(self.servers.connections(), {1: 0, 2: 0, 3: 0})

    def test_three_slots_naming_one_address_are_asked_once(self):
        workdir = self.settings_folder({2: "time.nist.gov", 3: "time.nist.gov"})
        self.sntp[1].answer(0)
        self.assertEqual(self.wait_report(self.launch(workdir=workdir))[2], ACCURATE)
        self.assertEqual(self.requests(), {1: 1, 2: 0, 3: 0})

    def test_a_rate_kiss_is_obeyed_and_no_address_is_asked_twice_within_4_s(self):
        # The automatic set ticked, and a manual set clicked twice while the start-up check runs.
        workdir = self.settings_folder({})
        with open(os.path.join(workdir, "NetTimeConfig.ini"), "ab") as settings:
            settings.write(b"AutoSetTime=1\r\n")
        self.sntp[1].answer(0, kiss=b"RATE")
        self.sntp[2].answer(0)
        self.sntp[3].answer(0)
        self.servers[1].close_early()
        program = self.launch(workdir=workdir)
        program.command(harness.IDOK)
        program.command(harness.IDOK)
        program.wait_panes(lambda p: p[0] == SET_DONE, 20, "the manual set")
        harness.wait_until(lambda: min(self.sntp[2].requests, self.sntp[3].requests) >= 5, 25, "the automatic set")
        # Past the automatic set's ten seconds, its spacing wait and its rounds, with room for anything more to come.
        time.sleep(max(0.0, program.started + 20 - time.monotonic()))
        # Each set waits out the spacing after the query before it, which leaves it room for two rounds in its 9 s.
        self.assertEqual(self.requests(), {1: 1, 2: 5, 3: 5}, "the check, one manual set and the automatic set")
        self.assertEqual(self.servers.connections(), {1: 0, 2: 0, 3: 0}, "RATE bars port 37 too")
        times = [self.sntp[number].request_times for number in (2, 3)]
        self.assertGreaterEqual(min(b - a for each in times for a, b in zip(each, each[1:])), 4.0)

    def test_port_37_refused_the_valid_sntp_answer_is_used_and_a_denying_server_not_asked_again(self):
        self.sntp[1].answer(0, kiss=b"DENY")
        self.sntp[2].answer(offset(days=1), spoof=True)
        self.sntp[3].answer(-offset(hours=1, minutes=2, seconds=3), delay=0.5)
        program = self.launch()
        self.assertEqual(self.wait_report(program)[2], fast(hours=1, minutes=2, seconds=3))
        self.assertEqual(self.requests(), {1: 1, 2: 1, 3: 1}, "one request to each, all sent together")
        # The set's rounds, two after it waits out the check's spacing: over an hour, and no second address agrees,
        # so nothing is set.
        program.command(harness.IDOK)
        program.wait_panes(lambda p: p[0] == SET_TOO_FAR, 20, "the set to be refused as too far")
        self.assertEqual(self.requests(), {1: 1, 2: 3, 3: 3})

    def test_names_from_the_settings_file_are_the_ones_asked(self):
        workdir = self.settings_folder({1: "ntp.tempvaro.test", 2: "time_2.example"})
        named = FakeTimeServer("127.0.0.14", mode="close")
        self.addCleanup(named.stop)
        self.servers[2].answer(-offset(seconds=5))
        self.assertEqual(self.wait_report(self.launch(workdir=workdir))[2], fast(seconds=5))
        # Slot 1 is the name given; slot 2's is no host name, so its built-in name is asked.
        self.assertEqual((named.connections, self.servers.connections()), (1, {1: 0, 2: 1, 3: 0}))


class AddressesTest(TempvaroTestCase):
    """Server names of another family, and with more than one address (tests/wine/hosts)."""

    def report_from(self, name, *servers):
        for server in servers:
            self.addCleanup(server.stop)
        program = self.launch(workdir=self.settings_folder({1: name}))
        shown = time.monotonic()
        report = self.wait_report(program)[2]
        return report, time.monotonic() - shown

    def test_a_name_with_only_an_ipv6_address_is_asked_on_both_protocols(self):
        port37 = FakeTimeServer("::1", mode="answer", offset=-offset(seconds=5))
        sntp = FakeSntpServer("::1")
        # An unsynchronised server's answer: SNTP has failed, so port 37 is asked at once.
        sntp.answer(0, kiss=b"INIT")
        report, took = self.report_from("v6only.tempvaro.test", port37, sntp)
        self.assertEqual(report, fast(seconds=5))
        self.assertLess(took, 3.0)
        self.assertEqual((port37.connections, sntp.requests), (1, 1))

    def test_a_silent_first_address_gives_way_to_the_second(self):
        # On port 37 only: SNTP asks both addresses at once, and would answer before the walk reaches the second.
        silent = SilentAddress("127.0.0.2")
        port37 = FakeTimeServer("127.0.0.16", mode="answer", offset=offset(seconds=7))
        report, took = self.report_from("two.tempvaro.test", silent, port37)
        self.assertEqual(report, slow(seconds=7))
        self.assertLess(took, 3.0)
        self.assertEqual((silent.sntp.requests, port37.connections), (1, 1))


class ManualSyncTest(TempvaroTestCase):

    def test_sync_with_two_servers_a_day_ahead_is_made_and_refused_by_wine(self):
        # Server 3 is asked first and stays silent, which keeps the "setting" text up long enough to be seen; server 1's
        # day is over an hour, so the walk goes on to server 2 for agreement.
        self.servers[3].silent()
        self.servers[1].answer(offset(days=1))
        self.servers[2].answer(offset(days=1))
        program = self.launch({"WINEDEBUG": "err+sync"})
        self.assertEqual(self.wait_report(program)[2], slow(days=1))
        program.command(harness.IDOK)
        program.wait_pane(0, SETTING, 5)
        panes = program.wait_panes(lambda p: p[0] != SETTING, SERVER_ATTEMPT + 10, "the sync to end")
        self.assertEqual(panes[0], SET_FAILED)
        self.assertEqual(panes[2], slow(days=1), "a failed sync leaves the check's result")
        self.assertEqual(self.servers.connections(), {1: 2, 2: 1, 3: 1})
        self.assertLess(self.servers[3].accept_times[0], self.servers[1].accept_times[1], "server 3 is asked first")
        moved = REFUSED_SET.search(program.log.read_text(errors="replace"))
        self.assertLess(abs(int(moved.group(1)) - ONE_DAY * 1000), 1000)

    def test_sync_succeeds_when_server_equals_machine(self):
        self.servers[1].answer(offset(days=1))
        self.servers[2].answer(offset(days=1))
        # Held back a little so the "setting" text can be seen.
        self.servers[3].answer(0, delay=1.5)
        program = self.launch()
        self.assertEqual(self.wait_report(program)[2], slow(days=1))
        program.command(harness.IDOK)
        program.wait_pane(0, SETTING, 5)
        panes = program.wait_panes(lambda p: p[0] != SETTING, SERVER_ATTEMPT + 5, "the sync to end")
        self.assertEqual(panes[0], SET_DONE)
        self.assertEqual(panes[2], SET_ACCURATE)
        self.assertEqual(self.servers.connections(), {1: 1, 2: 0, 3: 1})


class CommandLineTest(TempvaroTestCase):
    """/check, /sync and /? as a script runs them: text to the redirected output and an exit code."""

    USAGE = "用法 Usage: Tempvaro.exe [/check | /sync | /?]"
    READING = r"offset_ms=(-?\d+) server=(\S+) protocol=(sntp|time)"

    def run_program(self, *args, program=None, environment=None):
        if program is None:
            program = harness.Program(display)
            self.addCleanup(program.stop)
        code, output, _ = program.run(*args, environment=environment)
        return code, output.splitlines()

    def test_check_beside_the_window_prints_the_report_and_a_reading_and_exits_by_the_result(self):
        self.servers[1].answer(-offset(seconds=5))
        window = self.launch()
        self.assertEqual(self.wait_report(window)[2], fast(seconds=5))
        code, lines = self.run_program("/check", program=window)
        offset_ms, server, protocol = re.fullmatch(self.READING, lines[1]).groups()
        # A whole-second answer is centred: within half a second and the trip of the server's time.
        self.assertEqual((code, lines[0], server, protocol), (1, fast(seconds=5), "time.nist.gov", "time"))
        self.assertLess(abs(int(offset_ms) + 5000), 600)
        self.assertTrue(window.running() and harness.count_windows(display, harness.MAIN_TITLE) == 1)
        self.servers[1].answer(0)
        code, lines = self.run_program("/check")
        self.assertEqual((code, lines[0]), (0, ACCURATE))
        self.servers[1].absent()
        self.assertEqual(self.run_program("/check"), (2, [CONNECT_FAILED, "offset_ms= server= protocol="]))

    def test_a_clock_lock_no_one_may_open_is_busy_not_a_network_failure(self):
        self.servers[1].answer(0)
        held = pathlib.Path(self.settings_folder({})) / "held.txt"
        with open(held, "wb") as out:
            holder = subprocess.Popen([harness.WINE, str(harness.PROBE), "holdlock"], stdout=out,
                                      env=dict(os.environ, DISPLAY=display.name))
        self.addCleanup(harness.end_process, holder)
        harness.wait_until(lambda: held.read_bytes() == b"held\n", 20, "the lock to be held")
        for switch in ("/check", "/sync"):
            self.assertEqual(self.run_program(switch), (3, [CLOCK_BUSY, "offset_ms= server= protocol="]))
        self.assertEqual(self.wait_report(self.launch())[2], CLOCK_BUSY)
        self.assertEqual(self.servers.connections(), {1: 0, 2: 0, 3: 0})

    def test_sync_sets_the_clock_to_the_millisecond_and_a_refused_time_fails(self):
        sntp = FakeSntpServer(SERVER_ADDRESSES[3])
        self.addCleanup(sntp.stop)
        # Wine moves no clock, but accepts a time within half a second of its own.
        sntp.answer(0.3)
        code, lines = self.run_program("/sync")
        offset_ms, server, protocol = re.fullmatch(self.READING, lines[1]).groups()
        self.assertEqual((code, lines[0], server, protocol), (0, SET_DONE, "time-b-g.nist.gov", "sntp"))
        self.assertLess(abs(int(offset_ms) - 300), 20)
        # A time Wine refuses, and the move it was asked for, to the millisecond.
        sntp.answer(2.375)
        program = harness.Program(display)
        self.addCleanup(program.stop)
        code, lines = self.run_program("/sync", program=program, environment={"WINEDEBUG": "err+sync"})
        moved = REFUSED_SET.search(program.log.read_text(errors="replace"))
        self.assertEqual((code, lines[0]), (2, SET_FAILED))
        self.assertLess(abs(int(moved.group(1)) - 2375), 20)

    def test_a_lone_server_with_a_unix_epoch_count_is_reported_and_moves_nothing(self):
        # Unix seconds read as seconds since 1900 come to 2092: no second address agrees, so nothing is set.
        self.servers[3].answer(-EPOCH_1900_TO_1970)
        code, lines = self.run_program("/check")
        self.assertEqual((code, lines[0][:6]), (1, "本机时间慢了"))
        program = harness.Program(display)
        self.addCleanup(program.stop)
        code, lines = self.run_program("/sync", program=program, environment={"WINEDEBUG": "err+sync"})
        self.assertEqual((code, lines[0]), (2, SET_TOO_FAR))
        self.assertRegex(lines[1], r"server=time-b-g.nist.gov protocol=time")
        self.assertIsNone(REFUSED_SET.search(program.log.read_text(errors="replace")))
        self.assertEqual(self.servers.connections(), {1: 0, 2: 0, 3: 2})

    def test_usage_and_bad_arguments_contact_nothing(self):
        self.servers[1].answer(0)
        code, lines = self.run_program("/?")
        self.assertEqual((code, lines[0]), (0, self.USAGE))
        code, lines = self.run_program("/check", "/Sync")
        self.assertEqual((code, lines[:2]), (87, ["参数无效 Invalid argument: /Sync", self.USAGE]))
        self.assertEqual(self.servers.connections(), {1: 0, 2: 0, 3: 0})
        # Not redirected: to the console of the prompt that started it (on a terminal), Chinese in a Western code page.
        program = harness.Program(display)
        self.addCleanup(program.stop)
        with tempfile.TemporaryFile() as out:
            prompt = f"{harness.WINE} cmd /c start /wait {program.exe.name} /bad"
            code = subprocess.run(["script", "-qec", prompt, "/dev/null"], cwd=program.workdir, stdout=out,
                                  stdin=subprocess.DEVNULL, env=dict(os.environ, **WESTERN_LOCALE),
                                  timeout=60).returncode
            shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", out.seek(0) or out.read()).decode(errors="replace")
        self.assertEqual(code, 87)
        self.assertIn("用法 Usage: Tempvaro.exe", shown)

    def test_in_a_batch_file_output_to_nul_goes_nowhere_and_the_rest_to_the_console(self):
        # Wine gives a windowed program its parent's console already, so the attach that sent `>nul` text to the
        # console on Windows cannot happen here: this shows NUL kept silent and the console still written.
        self.servers[1].answer(0)
        program = harness.Program(display)
        self.addCleanup(program.stop)
        name = program.exe.name
        (program.workdir / "check.cmd").write_text(f"@{name} /check >nul\r\n@echo check %ERRORLEVEL%\r\n@{name} /?\r\n")
        with tempfile.TemporaryFile() as out:
            subprocess.run(["script", "-qec", f"{harness.WINE} cmd /c check.cmd", "/dev/null"], cwd=program.workdir,
                           stdout=out, stdin=subprocess.DEVNULL, timeout=60)
            shown = out.seek(0) or out.read().decode(errors="replace")
        self.assertIn("check 0", shown)
        self.assertNotIn(ACCURATE, shown)
        self.assertIn("用法 Usage: Tempvaro.exe", shown)


class WebTimeTest(TempvaroTestCase):
    """Web servers' Date headers where the time servers are gone: one named in a slot, and the built-in hosts."""

    def check(self, servers):
        program = harness.Program(display, workdir=self.settings_folder(servers))
        self.addCleanup(program.stop)
        code, output, elapsed = program.run("/check")
        lines = output.splitlines()
        self.assertEqual(len(lines), 2, f"exit code {code}, output {output!r}")
        offset_ms, server, protocol = re.fullmatch(r"offset_ms=(-?\d*) server=(\S*) protocol=(\w*)", lines[1]).groups()
        return code, lines[0], int(offset_ms or 0), server, protocol, elapsed

    def web_server(self, address, **kwargs):
        server = FakeDateServer(address, **kwargs)
        self.addCleanup(server.stop)
        return server

    def test_a_web_server_in_a_slot_is_read_to_tens_of_milliseconds(self):
        web = self.web_server("127.0.0.20", offset=-3.3)  # tempvaro.test
        code, report, offset_ms, server, protocol, _ = self.check({2: "http://tempvaro.test"})
        print(f"web time error against the fake: {offset_ms + 3300} ms in {len(web.requests)} requests")
        self.assertEqual((code, report, server, protocol), (1, fast(seconds=3), "http://tempvaro.test", "http"))
        self.assertTrue(abs(offset_ms + 3300) <= 50 and len(web.requests) <= 16)
        self.assertTrue(web.requests[0].startswith(b"HEAD / HTTP/1.1\r\nHost:tempvaro.test\r\n"))

    def test_with_every_time_server_gone_the_built_in_hosts_are_asked_and_an_unreadable_date_refused(self):
        # Each server refuses SNTP by a kiss-o'-death (Wine reports no refused datagram) and port 37 by a reset.
        for number in (1, 2, 3):
            sntp = FakeSntpServer(SERVER_ADDRESSES[number])
            self.addCleanup(sntp.stop)
            sntp.answer(0, kiss=b"DENY")
        baidu = self.web_server("127.0.0.21", date="Wed, 32 Dec 2031 00:00:00 GMT")
        qq = self.web_server("127.0.0.22", offset=7.25)
        code, report, offset_ms, server, protocol, elapsed = self.check({})
        print(f"built-in hosts: report after {elapsed:.2f} s, error {offset_ms - 7250} ms, {len(qq.requests)} requests")
        self.assertEqual((code, report, server, protocol), (1, slow(seconds=7), "www.qq.com", "http"))
        self.assertTrue(len(baidu.requests) == 1 and len(qq.requests) <= 16 and abs(offset_ms - 7250) <= 50)
        self.assertLess(elapsed, 6.0)
        baidu.date, baidu.status = None, "404 Not Found"
        qq.date = "Mon, 01 Jan 2024 00:00:00 GMT"  # before this build's day
        self.assertEqual(self.check({})[:2], (2, CONNECT_FAILED))

    def test_a_real_nginx_in_a_slot_finds_the_clock_accurate(self):
        root = tempfile.mkdtemp(prefix="tempvaro-site-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        open(os.path.join(root, "index.html"), "w").close()
        with real_servers.NginxSite("127.0.0.20", root).start() as nginx:
            code, report, offset_ms, _, protocol, _ = self.check({1: "http://tempvaro.test"})
            requests = len(nginx.requests())
        print(f"web time error against nginx: {offset_ms} ms in {requests} requests")
        self.assertEqual((code, report, protocol), (0, ACCURATE, "http"))
        self.assertTrue(abs(offset_ms) <= 50 and requests <= 16)


class MainWindowTest(TempvaroTestCase):

    def test_second_copy_exits_at_once_without_a_window(self):
        first = self.launch()
        second = harness.Program(display, workdir=first.workdir)
        self.addCleanup(second.stop)
        started = time.monotonic()
        second.start()
        self.assertEqual(second.wait_exit(), 0)
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(harness.count_windows(display, harness.MAIN_TITLE), 1)
        self.assertTrue(first.running())
        first.command(harness.IDCANCEL)
        self.assertEqual(first.wait_exit(), 0)
        self.assertEqual(harness.count_windows(display, harness.MAIN_TITLE), 0)

    def read_clock(self, program):
        before = time.time()
        panes = program.wait_panes(lambda p: len(p) == 3 and p[1] != "", 5, "the clock pane")
        after = time.time()
        self.assertRegex(panes[1], CLOCK_FORMAT)
        shown = time.mktime(time.strptime(panes[1], "%Y-%m-%d %H:%M:%S"))
        # The pane is redrawn once a second and shows whole seconds, so it may trail by up to two.
        self.assertTrue(before - 2.0 <= shown <= after, f"clock pane {panes[1]!r} is not the local time")
        return shown, panes

    def test_clock_pane_shows_local_time_while_servers_hang(self):
        for number in (1, 2, 3):
            self.servers[number].silent()
        program = self.launch()
        first, panes = self.read_clock(program)
        self.assertEqual(panes[2], CONNECTING)
        time.sleep(3)
        later, panes = self.read_clock(program)
        self.assertGreaterEqual(later - first, 2)
        self.assertEqual(panes[2], CONNECTING, "the check should still be waiting on the silent servers")
        self.assertEqual(program.stop(), 0, "closing the window ends the program")

    def test_main_window_screenshot(self):
        self.servers[1].answer(-offset(seconds=5))
        program = self.launch()
        self.assertEqual(self.wait_report(program)[2], fast(seconds=5))
        program.wait_panes(lambda p: p[1] != "", 5, "the clock pane")
        shot = display.screenshot(harness.SCREENSHOTS / "main-window.png")
        size = subprocess.run(["identify", "-format", "%w %h %k", str(shot)], stdout=subprocess.PIPE, text=True,
                              check=True).stdout.split()
        width, height, colours = (int(value) for value in size)
        # The dialog alone, not the whole screen, and with something drawn in it.
        self.assertTrue(300 < width < 1024 and 200 < height < 768, f"screenshot is {width}x{height}")
        self.assertGreater(colours, 16)

    def test_every_pane_holds_its_whole_text_at_each_display_scaling(self):
        self.servers[1].answer(offset(seconds=3))
        self.addCleanup(harness.set_dpi, 96)
        for dpi in (96, 144, 192):
            with self.subTest(dpi=dpi):
                harness.set_dpi(dpi)
                program = self.launch()
                self.assertEqual(self.wait_report(program)[2], slow(seconds=3))
                program.wait_panes(lambda p: p[1] != "", 5, "the clock pane")
                code, lines, err = program.probe("panes", "--fit")
                self.assertEqual((code, len(lines)), (0, 3), err)
                fit = [tuple(int(value) for value in line.split("\t")) for line in lines]
                display.screenshot(harness.SCREENSHOTS / f"main-window-{dpi}dpi.png")
                for pane, (width, text_width) in enumerate(fit):
                    self.assertLessEqual(text_width + PANE_BORDERS, width, f"pane {pane} at {dpi} DPI: {fit}")
                if dpi == 96:
                    self.assertEqual([fit[0][0], fit[1][0]], [110, 128], "the panes' edges at 110 and 240 pixels")
                self.assertEqual(program.stop(), 0)


class WesternCodePageTest(TempvaroTestCase):

    def test_panes_and_message_box_read_right(self):
        self.servers[1].answer(0)
        program = self.launch(environment=WESTERN_LOCALE)
        panes = program.wait_panes(lambda p: len(p) == 3 and p[2] == ACCURATE, REPORT_TIMEOUT, "the report")
        self.assertEqual(panes[0], WELCOME)
        program.command(IDC_SAVE)
        harness.wait_until(lambda: harness.count_windows(display, NOTICE_TITLE) == 1, 10, "the save message box")
        code, lines, err = program.probe("children", "--title", NOTICE_TITLE)
        self.assertEqual(code, 0, err)
        texts = [line.split("\t", 3)[3] for line in lines if int(line.split("\t", 1)[0]) == MESSAGE_TEXT_ID]
        self.assertEqual(texts, [SAVED])
        program.key("enter", title=NOTICE_TITLE)


class SplitByteFileNameTest(TempvaroTestCase):

    def test_settings_beside_the_program_and_a_mutex_of_its_whole_name(self):
        first_dir = tempfile.mkdtemp(prefix="tempvaro-e2e-")
        self.addCleanup(shutil.rmtree, first_dir, ignore_errors=True)
        # Under a split name the file would be looked for in a directory named after half a character.
        with open(os.path.join(first_dir, "NetTimeConfig.ini"), "wb") as settings:
            settings.write(b"[Config]\r\nAutoXiao=1\r\n")
        first = self.launch(workdir=first_dir, name=SPLIT_NAMES[0])
        self.assertEqual(first.check_states()[IDC_MINIMIZED], 1)

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


if __name__ == "__main__":
    unittest.main()
