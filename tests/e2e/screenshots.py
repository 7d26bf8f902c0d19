"""Takes the README's screenshots (not a test): the release build's main window after a clock check, its About box and
its time servers dialog, then the main window at 144 DPI, on a virtual display. Run inside run_isolated.sh by
scripts/screenshots.sh."""

import shutil
import sys

from . import harness
from .fake_time_server import TimeServers

DOCS = harness.ROOT / "docs"
ID_ABOUT = 40003
ABOUT_TITLE = "帮助"
ID_TIMESERVERS = 40004
SERVERS_TITLE = "时间服务器"
CONNECTING = "正在连接时间服务器......"
SCALED = "main-window-144dpi.png"


def checked(panes):
    """The clock shown and the check's report in."""
    return len(panes) == 3 and panes[1] and panes[2] not in ("", CONNECTING)


def main():
    harness.check_isolation()
    display = harness.VirtualDisplay().start()
    try:
        with TimeServers() as servers:
            servers[1].answer(-5)  # the machine 5 s fast, as a typical first check finds it
            program = harness.Program(display)
            try:
                program.start().wait_window()
                program.wait_panes(checked, 30, "the clock check")
                shutil.copyfile(display.screenshot(harness.SCREENSHOTS / "main-window.png"), DOCS / "main-window.png")
                for command, title, name in ((ID_ABOUT, ABOUT_TITLE, "about.png"),
                                             (ID_TIMESERVERS, SERVERS_TITLE, "time-servers.png")):
                    program.command(command)
                    harness.wait_until(lambda: harness.count_windows(display, title, visible_only=True), 10, title)
                    shutil.copyfile(display.screenshot(harness.SCREENSHOTS / name, title=title), DOCS / name)
                    program.command(harness.IDCANCEL, title=title)
                    harness.wait_until(lambda: not harness.count_windows(display, title), 10, f"{title} to close")
            finally:
                program.stop()
            harness.set_dpi(144)
            program = harness.Program(display)
            try:
                program.start().wait_window()
                program.wait_panes(checked, 30, "the clock check")
                shutil.copyfile(display.screenshot(harness.SCREENSHOTS / SCALED), DOCS / SCALED)
            finally:
                program.stop()
    finally:
        harness.set_dpi(96)
        display.stop()
    print(f"screenshots: main-window.png, about.png, time-servers.png and {SCALED} in {DOCS} from {harness.EXE}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
