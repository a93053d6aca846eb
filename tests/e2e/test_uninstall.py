"""Uninstalling from the uninstall entry: the question, what is removed and in which order,
the refusals, a file in use, and the delayed removal of the install directory (the prefixes'
ping.exe only records its arguments and waits, so nothing goes to a public address)."""
import re
import shutil
import subprocess

import pytest
from conftest import GAME_EXE, INSTALL_DIR, LAUNCHER, STANDIN_GAME, place_program, wait_for
from desktop import button_texts, message_box_text
from test_install import configure, make_package, reg_query, wait_status

SPLASH = "Vantorra"
COPY = INSTALL_DIR + r"\qorn.exe"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\qorn"
QUESTION = "确定要卸载吗?"
REFUSED = "游戏正在运行,请关闭游戏后重试"
FAILED = "卸载失败,可能是因为游戏正在运行或文件夹被占用。"
DELAY = "1.1.1.1 -n 3 -w 3000"


def install(desktop, channel):
    """A complete first install: game, launcher copy, shortcuts and the uninstall entry. The
    start menu has an "Apps" folder, as the launcher makes only the channel's folder in it."""
    start_menu_apps(desktop).mkdir(parents=True, exist_ok=True)
    configure(channel, make_package())
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    desktop.click_id(SPLASH, 101)
    assert desktop.wait_exit(proc) == 0
    assert desktop.path(COPY).exists() and desktop_shortcut(desktop).exists()


def desktop_shortcut(desktop):
    """The player's desktop shortcut (a prefix's user folders are its own, see winerun)."""
    return desktop.path(rf"C:\users\{desktop.prefix.user}\Desktop\Vantorra.lnk")


def start_menu_apps(desktop):
    return desktop.path(rf"C:\users\{desktop.prefix.user}\AppData\Roaming\Microsoft\Windows\Start Menu\Apps")


def start_menu_folder(desktop):
    folder = start_menu_apps(desktop) / "palmet"
    return folder if (folder / "Vantorra.lnk").exists() else None


def uninstall_key_present(desktop) -> bool:
    return "InstallPath" in reg_query(desktop, UNINSTALL_KEY)


def ping_record(desktop) -> list[str]:
    path = desktop.path(r"C:\ping_record.txt")
    return path.read_text(encoding="utf-8").splitlines() if path.exists() else []


def box_with(desktop, text, timeout_s=30):
    box = wait_for(lambda: next((w for w in desktop.windows() if w["visible"] and message_box_text(w) == text), None),
                   timeout_s)
    assert box, f"no box {text!r}: {desktop.windows()}"
    return box


def answer(desktop, box, index):
    desktop.click(box["caption"], button_texts(box)[index])


def test_ping_in_a_test_prefix_is_the_recording_stand_in(desktop):
    # A loopback address: were the stand-in not in place, nothing would leave the machine.
    desktop.prefix.run("cmd", ["/c", "ping 127.0.0.1 -n 1 -w 10 > Nul"], timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert [line.strip() for line in ping_record(desktop)] == ["127.0.0.1 -n 1 -w 10"]


def test_uninstall_answered_yes_removes_the_game_and_then_the_install_directory(desktop, channel):
    install(desktop, channel)
    assert start_menu_folder(desktop) is not None
    proc = desktop.start(COPY, "/uninstall")
    box = box_with(desktop, QUESTION)
    assert box["caption"] == "qorn"  # the application name of the copy
    desktop.screenshot("question")
    answer(desktop, box, 0)  # Yes
    assert desktop.wait_exit(proc) == 0

    assert not desktop.path(INSTALL_DIR + r"\client").exists()
    assert start_menu_folder(desktop) is None
    assert not desktop_shortcut(desktop).exists()
    assert not uninstall_key_present(desktop)
    # Two hidden interpreters wait (ping) and then remove the install directory, launcher,
    # log and all, after the launcher has ended.
    assert wait_for(lambda: not desktop.path(INSTALL_DIR).exists(), 60), list(desktop.path(INSTALL_DIR).rglob("*"))
    assert [line.strip() for line in ping_record(desktop)] == [DELAY, DELAY]


def test_uninstall_answered_no_changes_nothing(desktop, channel):
    install(desktop, channel)
    proc = desktop.start(COPY, "/uninstall")
    answer(desktop, box_with(desktop, QUESTION), 1)  # No
    assert desktop.wait_exit(proc) == 0
    assert desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").exists()
    assert desktop_shortcut(desktop).exists() and start_menu_folder(desktop) is not None
    assert uninstall_key_present(desktop)
    assert ping_record(desktop) == []


def test_a_file_in_use_stops_the_uninstall_before_the_shortcuts(desktop, channel):
    install(desktop, channel)
    holder = desktop.prefix.popen(desktop.uidriver, ["lock", INSTALL_DIR + r"\client\qorn\data\readme.txt", "60000"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert holder.stdout.readline().strip() == b"locked"
    proc = desktop.start(COPY, "/uninstall")
    answer(desktop, box_with(desktop, QUESTION), 0)
    failure = box_with(desktop, FAILED)
    assert failure["caption"] == "qorn"
    desktop.screenshot("file-in-use")
    answer(desktop, failure, 0)
    assert desktop.wait_exit(proc) == 0
    holder.kill()
    holder.wait(30)

    assert desktop.path(INSTALL_DIR + r"\client\qorn\data\readme.txt").exists()
    assert not desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").exists()  # removed before the failure
    assert desktop_shortcut(desktop).exists() and start_menu_folder(desktop) is not None
    assert uninstall_key_present(desktop)
    assert ping_record(desktop) == [] and desktop.path(COPY).exists()


@pytest.mark.parametrize("running", ["launcher", "game"])
def test_uninstall_is_refused_while_the_launcher_or_the_game_runs(desktop, channel, running):
    install(desktop, channel)
    if running == "launcher":
        other = desktop.start(LAUNCHER)
        desktop.wait_window(SPLASH)
    else:
        place_program(desktop, STANDIN_GAME, GAME_EXE)
        other = desktop.start(GAME_EXE)
        desktop.wait_window("Stand-in game")
    proc = desktop.start(COPY, "/uninstall")
    box = box_with(desktop, REFUSED)
    assert box["caption"] == "qorn"
    answer(desktop, box, 0)
    assert desktop.wait_exit(proc) == 0
    assert desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").exists() and uninstall_key_present(desktop)
    assert ping_record(desktop) == []
    desktop.prefix.kill()
    other.wait(30)


@pytest.mark.parametrize("args, uninstalls", [(["/UNINSTALL"], True), (["/uninstall", "now"], False)])
def test_only_the_uninstall_word_alone_uninstalls(desktop, args, uninstalls):
    proc = desktop.start(LAUNCHER, *args)
    if uninstalls:
        answer(desktop, box_with(desktop, QUESTION), 1)
        assert desktop.wait_exit(proc) == 0
    else:
        desktop.wait_window(SPLASH)  # an ordinary start
        desktop.click_id(SPLASH, 101)
        assert desktop.wait_exit(proc) == 0


class LogWatch:
    """The uninstaller's log as it last stood: the delayed removal deletes the file about a
    second after the launcher has closed it, so it is read all along while the launcher runs."""

    def __init__(self, desktop):
        self.path = desktop.path(INSTALL_DIR + r"\qorn.log")
        self.text = ""

    def read(self) -> str:
        try:
            self.text = self.path.read_bytes().decode("gbk", "replace")
        except OSError:
            pass
        return self.text

    def wait_exit(self, proc, timeout_s=60) -> int:
        assert wait_for(lambda: (self.read(), proc.poll())[1] is not None, timeout_s, interval=0.05)
        self.read()
        return proc.returncode

    def messages(self) -> list[str]:
        return [re.sub(r"^(\[[^\]]*\]){3} ", "", line) for line in self.text.splitlines() if line.strip()]


def test_a_desktop_shortcut_that_cannot_be_deleted_shows_the_failure_and_the_uninstall_goes_on(desktop, channel):
    install(desktop, channel)
    shortcut = rf"C:\users\{desktop.prefix.user}\Desktop\Vantorra.lnk"
    holder = desktop.prefix.popen(desktop.uidriver, ["lock", shortcut, "60000"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
    assert holder.stdout.readline().strip() == b"locked"
    log = LogWatch(desktop)
    proc = desktop.start(COPY, "/uninstall")
    answer(desktop, box_with(desktop, QUESTION), 0)
    failure = box_with(desktop, FAILED)
    assert failure["caption"] == "qorn"
    assert "unistall error" in log.read()
    answer(desktop, failure, 0)
    assert log.wait_exit(proc) == 0
    holder.kill()
    holder.wait(30)

    assert desktop_shortcut(desktop).exists()  # the one thing left behind
    assert not desktop.path(INSTALL_DIR + r"\client").exists() and start_menu_folder(desktop) is None
    assert not uninstall_key_present(desktop)
    assert wait_for(lambda: len(ping_record(desktop)) == 2, 30), ping_record(desktop)
    assert log.messages()[-1] == "unistall succ", log.text


def test_a_missing_client_folder_is_no_error_and_the_log_ends_with_unistall_succ(desktop, channel):
    install(desktop, channel)
    log = LogWatch(desktop)
    proc = desktop.start(COPY, "/uninstall")
    question = box_with(desktop, QUESTION)
    # Start-up has made the client folder again; it goes while the question is asked.
    client = desktop.path(INSTALL_DIR + r"\client")
    shutil.rmtree(client)
    answer(desktop, question, 0)
    assert log.wait_exit(proc) == 0

    assert not any(w["visible"] and message_box_text(w) == FAILED for w in desktop.windows())
    assert "unistall error" not in log.text
    assert not desktop_shortcut(desktop).exists() and not uninstall_key_present(desktop)
    messages = log.messages()
    assert messages[-1] == "unistall succ", log.text
    # The last report ("game unintall success") writes no line: the log is closed by then.
    assert not any("unintall success" in m for m in messages)
