"""Start-up and shutdown of the real launcher: directories, the log, a single instance, the
running-game check and the exit codes."""
import re

import pytest
from conftest import GAME_EXE, INSTALL_DIR, LAUNCHER, STANDIN_GAME, place_program, read_log_bytes
from desktop import button_texts, message_box_text
from test_login_launch import platform_messages, start_platform

SPLASH = "Vantorra"
ALREADY_RUNNING = "游戏已启动"
LOG_LINE = re.compile(
    rb"^\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{2} "
    rb"\d{2}:\d{2}:\d{2} \d{4}\]\[(INFO|ERROR)\]\[[A-Za-z]+::[A-Za-z]+::\d+\] ")


VK_ESCAPE = 0x1B
VK_RETURN = 0x0D
CLOSE_BUTTON = 101


def run_until_splash_then_close(desktop, exe=LAUNCHER, label=None, by_system=False):
    """Closes with the launcher's close button, or with the system's close command (Alt+F4)."""
    proc = desktop.start(exe)
    desktop.wait_window(SPLASH)
    if label:
        desktop.screenshot(label)
    if by_system:
        desktop.close(SPLASH)
    else:
        desktop.click_id(SPLASH, CLOSE_BUTTON)
    return desktop.wait_exit(proc)


def dismiss_already_running_box(desktop, caption="qorn"):
    box = desktop.wait_window(caption)
    assert message_box_text(box) == ALREADY_RUNNING
    desktop.screenshot("already-running")
    desktop.click(caption, button_texts(box)[0])


def test_first_start_creates_directories_and_logs(desktop):
    assert run_until_splash_then_close(desktop, label="splash") == 0
    assert desktop.path(INSTALL_DIR).is_dir()
    assert desktop.path(INSTALL_DIR + r"\client").is_dir()
    # The log's folder is made during start-up; the log opens then, so the install run that
    # support needs most is logged too.
    log = read_log_bytes(desktop)
    assert re.search(rb"\[INFO\]\[CWebApp::InitInstance::\d+\] Laucher Start\r\n", log), log


def test_second_start_writes_crlf_log_lines(desktop):
    assert run_until_splash_then_close(desktop) == 0
    assert run_until_splash_then_close(desktop, by_system=True) == 0

    raw = read_log_bytes(desktop)
    assert raw.endswith(b"\r\n")
    lines = raw.split(b"\r\n")[:-1]
    assert lines, raw
    for line in lines:
        assert LOG_LINE.match(line), line
        assert b"\n" not in line
    texts = [LOG_LINE.sub(b"", line) for line in lines]
    assert INSTALL_DIR.encode() in texts
    assert (INSTALL_DIR + r"\client").encode() in texts
    assert any(re.search(rb"\[INFO\]\[CWebApp::InitInstance::\d+\] Laucher Start$", line) for line in lines)
    # The registry holds no install path yet: the failed lookup is logged.
    assert any(b"[ERROR][CGameRemoteConfig::QueryRegistryKey::" in line and b"QueryRegistryKey lret:2" in line
               for line in lines)


def test_second_launcher_is_refused_while_one_runs(desktop):
    first = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    before = read_log_bytes(desktop)
    second = desktop.start(LAUNCHER)
    dismiss_already_running_box(desktop)
    assert desktop.wait_exit(second) == 0
    # The first launcher is unaffected and ends normally, its log intact.
    assert desktop.visible_window(SPLASH)
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(first) == 0
    after = read_log_bytes(desktop)
    assert after.startswith(before), (before, after)
    assert b"\0" not in after
    assert re.search(rb"\[INFO\]\[CWebDlg::Close::\d+\] Laucher Stop\r\n", after), after


def test_launcher_ended_from_outside_keeps_its_log(desktop):
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    desktop.prefix.kill()  # the Wine server and with it the launcher end at once
    proc.wait(60)
    log = read_log_bytes(desktop)
    assert re.search(rb"\[INFO\]\[CWebApp::InitInstance::\d+\] Laucher Start\r\n", log), log


def test_launcher_is_refused_while_the_game_runs(desktop):
    place_program(desktop, STANDIN_GAME, GAME_EXE)
    desktop.start(desktop.path(GAME_EXE))
    desktop.wait_window("Stand-in game")
    launcher = desktop.start(LAUNCHER)
    dismiss_already_running_box(desktop)
    assert desktop.wait_exit(launcher) == 0
    assert desktop.visible_window("Stand-in game")


def test_installed_launcher_copy_is_not_taken_for_the_game(desktop):
    # The copy in the install directory has the game's file name but is not the game.
    copy = place_program(desktop, LAUNCHER, INSTALL_DIR + r"\qorn.exe")
    assert run_until_splash_then_close(desktop, exe=copy) == 0
    log = read_log_bytes(desktop, "qorn")
    assert re.search(rb"\[INFO\]\[CWebApp::InitInstance::\d+\] Laucher Start\r\n", log)


def test_unusable_install_directory_ends_with_minus_one(desktop):
    # A file where the install directory belongs: the directory cannot be created.
    desktop.path(INSTALL_DIR).write_bytes(b"not a directory")
    proc = desktop.start(LAUNCHER)
    box = desktop.wait_window("Vantorra")
    assert message_box_text(box) == "创建数据目录失败,错误id:183"
    desktop.screenshot("directory-error")
    desktop.click("Vantorra", button_texts(box)[0])
    assert desktop.wait_exit(proc) == 255  # -1 as the low byte Wine passes on


def test_system_close_ends_the_run_without_the_stop_line(desktop):
    # Alt+F4 or the task bar's close: the run ends through the quit message; only the destroy
    # handler speaks.
    assert run_until_splash_then_close(desktop, by_system=True) == 0
    log = read_log_bytes(desktop)
    assert re.search(rb"\[INFO\]\[CWebApp::OnWndDestroy::\d+\] wnd destory\r\n", log), log
    assert b"Laucher Stop" not in log


def test_escape_and_enter_do_not_close_the_launcher(desktop):
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    desktop.press_key(SPLASH, VK_ESCAPE)
    desktop.press_key(SPLASH, VK_RETURN)
    # Queued behind the keys: had either ended the run, the button would be gone by now.
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0
    log = read_log_bytes(desktop)
    assert re.search(rb"\[INFO\]\[CWebDlg::Close::\d+\] Laucher Stop\r\n", log), log


@pytest.mark.parametrize("by_system, sent", [(False, 1), (True, 0)], ids=["close button", "system close"])
def test_the_close_button_sends_the_platform_its_message_once(desktop, by_system, sent):
    winid = start_platform(desktop)
    proc = desktop.start(LAUNCHER, f"--winid={winid}")
    desktop.wait_window(SPLASH)
    if by_system:
        desktop.close(SPLASH)
    else:
        desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0
    # Sent and handled before the launcher ends.
    records = platform_messages(desktop)
    assert len(records) == sent, records
    assert all((r["tag"], r["size"]) == (1, 2056) for r in records)
