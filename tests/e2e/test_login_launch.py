"""The entry page logs the player in through window.external and the launcher starts the
game: the real launcher under Wine with the stand-in browser control, game and platform."""
import json
import re

from conftest import INSTALL_DIR, LAUNCHER, STANDIN_GAME, STANDIN_PLATFORM, place_program, read_log_bytes, wait_for
from desktop import button_texts, message_box_text
from test_install import PACKAGE_PATH, configure, make_package

SPLASH = "Vantorra"
CLOSE_BUTTON = 101
GAME_DIR = INSTALL_DIR + r"\client\qorn"
CUSTOM = "region=cn"  # the CustomParameters of configure()


def page(script: str, body: str = "") -> str:
    """An entry page whose inline script runs once it has loaded, after the body's elements
    (fields, frames). report(name, value) leaves "method:<name>,paramters:<value>" in the
    launcher's log."""
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Login test page</title></head><body>"
            + body + "<script>function report(name, value) { window.external.JavascriptToCsharp(name, String(value)); }\n"
            + script + "</script></body></html>")


def log_text(desktop) -> str:
    return read_log_bytes(desktop).decode("gbk", "replace")


def log_messages(desktop) -> list[str]:
    """The message part of each log line: what follows the line's three bracketed fields."""
    return [re.sub(r"^(\[[^\]]*\]){3} ", "", line) for line in log_text(desktop).splitlines()]


def game_records(desktop) -> list[dict]:
    path = desktop.path(GAME_DIR + r"\standin_game_record.txt")
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]


def game_starts(desktop) -> list[dict]:
    return [r for r in game_records(desktop) if "cmdline" in r]


def error_messages(channel) -> list[str]:
    return [dict(r["params"]).get("error_msg") for r in channel.reports if r["kind"] == "error"]


def stop_game(desktop):
    desktop.path(GAME_DIR + r"\standin_game.stop").write_text("stop")


def install_current_client(desktop):
    """A client that needs no download, with the stand-in game in place."""
    client = desktop.path(INSTALL_DIR + r"\client")
    (client / "qorn").mkdir(parents=True)
    (client / "game_client_version.txt").write_bytes(b"1.0.3.7")
    place_program(desktop, STANDIN_GAME, GAME_DIR + r"\qorn.exe")


def start_platform(desktop) -> int:
    """The stand-in platform client; returns its window handle."""
    place_program(desktop, STANDIN_PLATFORM, r"C:\platform\platform.exe")
    desktop.start(r"C:\platform\platform.exe")
    handle_file = desktop.path(r"C:\platform\standin_platform.hwnd")
    assert wait_for(lambda: handle_file.exists() and handle_file.read_text().strip(), 30)
    return int(handle_file.read_text().strip())


def main_launcher_windows(desktop) -> list[dict]:
    """The windows the splash window owns, shown or not: the main launcher window."""
    windows = desktop.windows()
    splash = next((w for w in windows if w["caption"] == SPLASH and w["owner"] == 0), None)
    return [w for w in windows if splash and w["owner"] == splash["hwnd"]]


def platform_messages(desktop) -> list[dict]:
    path = desktop.path(r"C:\platform\standin_platform_record.txt")
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text().splitlines() if line.strip()]


def test_first_run_logs_in_starts_the_game_once_and_closes_after_it(desktop, channel):
    package = make_package(extra_bytes=512 * 1024)
    configure(channel, package)
    # Slow enough that the page has logged in long before the update is complete.
    channel.set_fault(PACKAGE_PATH, trickle_bytes=128 * 1024, trickle_interval=0.3, times=1)
    channel.set_entry_page(page(
        "report('Ready', window.external.IsDownLoadComplete);\n"
        "window.external.AppLogin('true|abc');\n"
        "window.external.AppLogin('true|other');\n"
        "function poll() { var ready = window.external.IsDownLoadComplete;"
        " if (ready) report('Ready', ready); else setTimeout(poll, 100); }\n"
        "poll();\n"))
    winid = start_platform(desktop)
    proc = desktop.start(LAUNCHER, f"--winid={winid}", "--token=t1", "--source=web", env={"STANDIN_ENV_PROBE": "env-1"})
    desktop.wait_window(SPLASH)

    assert wait_for(lambda: game_starts(desktop), 120), log_text(desktop)
    assert wait_for(lambda: desktop.visible_window(SPLASH) is None, 10), "the launcher stays visible beside the game"
    desktop.screenshot("game-running")
    # A fresh install: the game's window is maximised a second after its start.
    assert wait_for(lambda: any(r.get("event") == "maximized" for r in game_records(desktop)), 15)
    assert platform_messages(desktop) == []  # nothing before the game has ended

    stop_game(desktop)
    assert desktop.wait_exit(proc, 60) == 0

    [game] = game_starts(desktop)
    assert game["cmdline"].endswith(
        f" --winid={winid} --token=t1 --source=web --parameters=abc --plat_extra={CUSTOM}"), game["cmdline"]
    assert "Vantorra.exe" in game["cmdline"].split(" --winid=")[0]
    assert game["cwd"].lower() == GAME_DIR.lower()
    assert game["probe"] == "env-1"

    [message] = platform_messages(desktop)
    assert (message["tag"], message["size"]) == (1, 2056)
    assert desktop.path(INSTALL_DIR + r"\tempdownload.dat").exists()

    entry_requests = channel.requests_for(channel.entry_path)
    assert [r["query"] for r in entry_requests] == [f"winid={winid}&token=t1&source=web"]

    messages = log_messages(desktop)
    # Login first, readiness later; the second login changes nothing.
    assert messages.index("method:Ready,paramters:false") < messages.index("is logic suc!") \
        < messages.index("already login") < messages.index("is ready")
    assert "method:Ready,paramters:true" in messages
    assert messages.count("LaunchGame Succ") == 1
    assert messages.index("Exit Game") < messages.index("Laucher Stop")
    assert "game start success" in error_messages(channel)


def test_readiness_before_login_and_the_page_questions(desktop, channel):
    configure(channel, make_package())
    install_current_client(desktop)
    (desktop.path(r"C:\players")).mkdir()
    desktop.path(r"C:\players\luapath.txt").write_bytes(b"D:\\lua\r\nsecond line\r\n")
    channel.set_entry_page(page(
        "report('Path', window.external.JavascriptToCsharp('GetCommandLine', 'x'));\n"
        "report('Unknown', window.external.JavascriptToCsharp('NoSuchMethod', 'x'));\n"
        "try { window.external.applogin('true|lower'); report('Lower', 'called'); }"
        " catch (e) { report('Lower', 'failed'); }\n"
        "function poll() { if (window.external.IsDownLoadComplete) window.external.gamelogin('TRUE|xyz');"
        " else setTimeout(poll, 100); }\n"
        "poll();\n"))
    proc = desktop.start(LAUNCHER, "/x", "y", cwd=r"C:\players")
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: game_starts(desktop), 60), log_text(desktop)
    stop_game(desktop)
    assert desktop.wait_exit(proc, 60) == 0

    [game] = game_starts(desktop)
    # The first line of luapath.txt as a text read gives it: its line break (CR LF read as LF)
    # reaches the game with it.
    assert game["cmdline"].endswith(f" /x y --parameters=xyz --plat_extra={CUSTOM} --luapath=D:\\lua\n"), game["cmdline"]
    assert not any(r.get("event") == "maximized" for r in game_records(desktop))  # not a fresh install
    messages = log_messages(desktop)
    assert messages.index("is ready") < messages.index("is logic suc!")
    path = next(m for m in messages if m.startswith("method:Path,paramters:"))
    assert path.endswith("\\Vantorra.exe") and "/x" not in path, path
    assert "method:Unknown,paramters:" in messages
    assert "method:Lower,paramters:failed" in messages
    assert not any("lower" in m for m in messages if m.startswith("method:LoginResult"))


def test_rejected_login_asks_again_and_a_later_one_starts_the_game(desktop, channel):
    configure(channel, make_package())
    install_current_client(desktop)
    channel.set_entry_page(page(
        "window.external.AppLogin('false|x');\n"
        "window.external.AppLogin('');\n"
        "window.external.JavascriptToCsharp('LoginResult', 'true|y');\n"))
    proc = desktop.start(LAUNCHER)

    def rejection_box():
        return next((w for w in desktop.windows() if w["visible"] and w["caption"] == SPLASH
                     and message_box_text(w) == "登录验证未通过"), None)

    box = wait_for(rejection_box, 60)
    assert box, desktop.windows()
    desktop.screenshot("login-rejected")
    assert game_starts(desktop) == []
    desktop.click(SPLASH, button_texts(box)[0])

    assert wait_for(lambda: game_starts(desktop), 60), log_text(desktop)
    stop_game(desktop)
    assert desktop.wait_exit(proc, 60) == 0
    [game] = game_starts(desktop)
    assert game["cmdline"].endswith(f" --parameters=y --plat_extra={CUSTOM}"), game["cmdline"]
    assert "paramters is error!" in log_messages(desktop)


def test_missing_game_reports_the_failure_and_keeps_the_launcher(desktop, channel):
    configure(channel, make_package())
    install_current_client(desktop)
    desktop.path(GAME_DIR + r"\qorn.exe").unlink()
    channel.set_entry_page(page("window.external.AppLogin('true|abc');\n"))
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)

    assert wait_for(lambda: "game start failed" in error_messages(channel), 60), error_messages(channel)
    assert "LaunchGame Faild" in log_messages(desktop)
    assert desktop.visible_window(SPLASH) is not None
    desktop.screenshot("game-missing")
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0


def test_closing_the_hidden_splash_while_a_game_started_by_readiness_runs(desktop, channel):
    # The page logs in at once; the slow package makes readiness come second, so the game is
    # started, and waited for, on the update thread.
    configure(channel, make_package(extra_bytes=256 * 1024))
    channel.set_fault(PACKAGE_PATH, trickle_bytes=64 * 1024, trickle_interval=0.3, times=1)
    channel.set_entry_page(page("window.external.AppLogin('true|abc');\n"))
    winid = start_platform(desktop)
    proc = desktop.start(LAUNCHER, f"--winid={winid}")
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: any(w["visible"] for w in main_launcher_windows(desktop)), 10)
    assert wait_for(lambda: game_starts(desktop), 120), log_text(desktop)
    # Hiding the splash window hides the main launcher window on it too.
    assert wait_for(lambda: desktop.visible_window(SPLASH) is None, 10)
    assert main_launcher_windows(desktop) and not any(w["visible"] for w in main_launcher_windows(desktop))
    messages = log_messages(desktop)
    assert messages.index("is logic suc!") < messages.index("is ready"), "readiness did not come second"

    # Someone closes the hidden splash window (WM_CLOSE): the window thread must go on at once
    # instead of waiting for the game.
    desktop.close(SPLASH)
    assert wait_for(lambda: "wnd destory" in log_messages(desktop), 30), "the window thread waits for the game"
    assert proc.poll() is None and platform_messages(desktop) == []

    stop_game(desktop)
    assert desktop.wait_exit(proc, 60) == 0
    assert len(platform_messages(desktop)) == 1
    messages = log_messages(desktop)
    assert messages.count("Exit Game") == 1 and messages.count("LaunchGame Succ") == 1
    assert messages.index("wnd destory") < messages.index("Exit Game")
