#!/usr/bin/python3
"""The demo: a player's first run of the launcher built for the loopback channel, under Wine,
against the channel server and the stand-ins of the game platform, the browser control and the
game. It prints each step and where its screenshots are.

With DISPLAY set, Wine shows the windows on that display so a person can watch; otherwise
they go to a virtual display and only the screenshots show them."""
import io
import json
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import winerun
from desktop import Desktop, button_texts, message_box_text, shown_texts

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tools"))
from channel_server import ChannelServer  # noqa: E402

BUILD = REPO / "build" / winerun.current_variant()
LAUNCHER = BUILD / "e2e-bin" / "Vantorra.exe"
TOOLS = BUILD / "tools"
ENTRY_PAGE = REPO / "tools" / "pages" / "entry.html"
SHOTS = REPO / "build" / "demo"
INSTALL_DIR = r"C:\qorn-palmet"
GAME_DIR = INSTALL_DIR + r"\client\qorn"
PLATFORM = r"C:\platform\platform.exe"
PACKAGE_PATH = {"win64": "/packages/palmet/x64/qorn_1.0.3.7.zip",
                "win32": "/packages/palmet/x86/qorn_1.0.3.7.zip"}[winerun.current_variant()]
SPLASH = "Vantorra"
GAME_SECONDS = 6  # how long the stand-in game plays before it exits by itself


def step(text: str) -> None:
    print(f"\n== {text}", flush=True)


def say(text: str) -> None:
    print(f"   {text}", flush=True)


def test_port() -> int:
    for line in (BUILD / "CMakeCache.txt").read_text().splitlines():
        if line.startswith("LAUNCHER_TEST_HOST:"):
            return int(line.rsplit(":", 1)[1])
    return 47631


def demo_package() -> bytes:
    """The stand-in game as the game client, with some data so the download takes a moment."""
    buf = io.BytesIO()
    rnd = random.Random(1)
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("qorn/", b"")
        z.write(TOOLS / "standin_game.exe", "qorn/qorn.exe")
        z.writestr("qorn/data/", b"")
        z.writestr(zipfile.ZipInfo("qorn/data/assets.bin"), rnd.randbytes(4 * 1024 * 1024),
                   compress_type=zipfile.ZIP_STORED)
    return buf.getvalue()


def wait_for(predicate, timeout_s: float, interval: float = 0.2):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def json_lines(path: Path) -> list[dict]:
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]


class Demo:
    def __init__(self, desk: Desktop, server: ChannelServer):
        self.desk = desk
        self.server = server
        self.shot_number = 0

    def shot(self, label: str) -> str:
        self.shot_number += 1
        return str(self.desk.screenshot(f"{self.shot_number}-{label}"))

    def page_colours(self) -> str:
        """A screenshot of the page's place alone, where its colour samples are."""
        page = next((c for w in self.desk.owned_windows(SPLASH) for c in w["children"]
                     if c["class"] == "StandinBrowserWindow"), None)
        whole = self.shot("page-colours")
        if not page:
            return whole
        left, top, right, bottom = page["rect"]
        crop = whole.replace(".png", "-page.png")
        subprocess.run(["convert", whole, "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", crop],
                       check=False, timeout=60)
        return crop

    @staticmethod
    def colour_count(image: str, colour: str) -> int:
        """How many pixels of the image have exactly this colour."""
        out = subprocess.run(["convert", image, "-format", "%c", "histogram:info:-"], capture_output=True,
                             text=True, check=False, timeout=60).stdout
        return sum(int(line.split(":")[0]) for line in out.splitlines() if f" {colour.upper()} " in line.upper())

    def status(self) -> str:
        """The progress area of the main launcher window, owned by the splash window."""
        return shown_texts(self.desk.owned_windows(SPLASH))

    def game_starts(self) -> list[dict]:
        return [r for r in json_lines(self.desk.path(GAME_DIR + r"\standin_game_record.txt")) if "cmdline" in r]

    def platform_messages(self) -> list[dict]:
        return json_lines(self.desk.path(r"C:\platform\standin_platform_record.txt"))

    def log_lines(self, wanted) -> list[str]:
        path = self.desk.path(INSTALL_DIR + r"\Vantorra.log")
        text = path.read_bytes().decode("gbk", "replace") if path.exists() else ""
        return [line for line in text.splitlines() if any(w in line for w in wanted)]

    def start_platform(self) -> int:
        target = self.desk.path(PLATFORM)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(TOOLS / "standin_platform.exe", target)
        self.desk.start(PLATFORM)
        handle = self.desk.path(r"C:\platform\standin_platform.hwnd")
        if not wait_for(lambda: handle.exists() and handle.read_text().strip(), 30):
            raise SystemExit("the stand-in platform client did not start")
        return int(handle.read_text().strip())

    def play(self, winid: int, first: bool) -> int:
        """One start by the platform: update, login on the page, the game, and the close."""
        games_before = len(self.game_starts())
        messages_before = len(self.platform_messages())
        proc = self.desk.start(LAUNCHER, f"--winid={winid}", "--token=demo-token", "--source=web",
                               env={"STANDIN_GAME_EXIT_AFTER_MS": str(GAME_SECONDS * 1000)})
        self.desk.wait_window(SPLASH)
        if first:
            text = wait_for(lambda: self.status().startswith("正在下载：") and self.status() != "正在下载：0%" and
                            self.status(), 60)
            say(f"downloading: {text!r}; screenshot {self.shot('downloading')}")
            shot = self.page_colours()
            say("the entry page paints a pure-black sample (#000000) and a near-black one (#010101): the splash "
                f"picture shows through the first, not the second; screenshot {shot}; "
                f"pixels of the page's place: {self.colour_count(shot, '#000000')} pure black, "
                f"{self.colour_count(shot, '#010101')} near black")
            step("A second launcher while the first one runs")
            other = self.desk.start(LAUNCHER)
            box = self.desk.wait_window("qorn")
            say(f"it says {message_box_text(box)!r}; screenshot {self.shot('already-running')}")
            self.desk.click("qorn", button_texts(box)[0])
            say(f"and ends with exit code {other.wait(60)}")
            step("The page logs in as a guest; the game starts once the install is complete")
        if not wait_for(lambda: len(self.game_starts()) > games_before, 120):
            say(f"the game did not start; status {self.status()!r}; screenshot {self.shot('no-game')}")
            proc.kill()
            return 1
        game = self.game_starts()[-1]
        time.sleep(1.5)  # the maximise comes a second after a fresh install's start
        say(f"the game runs in {game['cwd']}")
        say(f"its command line: {game['cmdline']}")
        say(f"the launcher hid itself: {self.desk.visible_window(SPLASH) is None}; "
            f"screenshot {self.shot('game-running')}")
        say(f"the game plays for {GAME_SECONDS} s, then exits")
        code = proc.wait(GAME_SECONDS + 60)
        say(f"the launcher closed after the game, exit code {code}")
        for message in self.platform_messages()[messages_before:]:
            say(f"the platform window received WM_COPYDATA: data tag {message['tag']}, {message['size']} bytes")
        record = self.desk.path(INSTALL_DIR + r"\tempdownload.dat")
        if record.exists():
            say(f"resume record at close: {record.read_text().strip().replace(chr(10), ' ')}")
        return 0


def main() -> int:
    shutil.rmtree(SHOTS, ignore_errors=True)
    display = os.environ.get("DISPLAY") or None
    session = winerun.Session(display=display)
    session.start()
    print(f"Wine: {winerun.variant()[1]}; display {session.display}"
          f"{' (yours: watch it)' if display else ' (virtual; see the screenshots)'}")
    prefix = session.new_prefix("demo")
    desk = Desktop(prefix, "demo", TOOLS / "uidriver.exe", SHOTS)
    server = ChannelServer(port=test_port()).start()
    demo = Demo(desk, server)
    try:
        package = demo_package()
        server.add_package(PACKAGE_PATH, package)
        base = server.base_url + "/packages/{ditch_name}"
        server.set_config({"ClientVersion": "1.0.3.7", "ClientMiniUpdateVersion": "1.0.0.0",
                           "ClientDownloadUrl": base + "/x64/qorn_{version}.zip",
                           "Client32DownloadUrl": base + "/x86/qorn_{version}.zip",
                           "EntryUrl": server.url(server.entry_path), "CustomParameters": "region=cn"})
        server.set_entry_page(ENTRY_PAGE.read_bytes())
        # Slow the package down so the download can be seen.
        server.set_fault(PACKAGE_PATH, trickle_bytes=512 * 1024, trickle_interval=0.4, times=1)
        say(f"channel server on {server.base_url}: configuration ClientVersion 1.0.3.7, "
            f"package of {len(package)} bytes, entry page {ENTRY_PAGE.relative_to(REPO)}")

        step("The game platform's client starts")
        winid = demo.start_platform()
        say(f"its window {winid} is handed to the launcher as --winid={winid}")

        step("First start on a clean machine: download and install the game")
        if demo.play(winid, first=True):
            return 1
        for path in (r"\client\qorn\qorn.exe", r"\client\game_client_version.txt", r"\qorn.exe",
                     r"\qorn-uninstall.lnk"):
            say(f"{INSTALL_DIR}{path}: {'present' if desk.path(INSTALL_DIR + path).exists() else 'MISSING'}")
        for line in demo.log_lines(("method:", "login", "LaunchGame", "Exit Game", "InitWebBrower")):
            say(f"log: {line}")

        step("Next start: the client is current, nothing is downloaded")
        before = len(server.requests_for(PACKAGE_PATH))
        if demo.play(winid, first=False):
            return 1
        say(f"package requests this time: {len(server.requests_for(PACKAGE_PATH)) - before}")
        say(f"reports received by the statistics server in all: {len(server.reports)}")

        step("The player uninstalls the game from its uninstall entry")
        proc = desk.start(INSTALL_DIR + r"\qorn.exe", "/uninstall")
        box = wait_for(lambda: next((w for w in desk.windows() if w["visible"] and
                                     message_box_text(w) == "确定要卸载吗?"), None), 60)
        if not box:
            say(f"no question was asked; screenshot {demo.shot('uninstall')}")
            proc.kill()
            return 1
        say(f"it asks {message_box_text(box)!r}; screenshot {demo.shot('uninstall-question')}")
        desk.click(box["caption"], next(b for b in button_texts(box) if b.replace("&", "") in ("Yes", "是(Y)", "是")))
        say(f"answered Yes; the uninstaller ends with exit code {proc.wait(60)}")
        gone = wait_for(lambda: not desk.path(INSTALL_DIR).exists(), 60)
        say(f"{INSTALL_DIR} {'is removed' if gone else 'is still there'}")
        print(f"\nScreenshots: {SHOTS}")
        return 0 if gone else 1
    finally:
        server.stop()
        prefix.remove()
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
