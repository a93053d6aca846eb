#!/usr/bin/python3
"""The demo: runs the launcher built for the loopback channel under Wine, the way a player
would meet it, against the channel server, and tells what happened and where the screenshots
are."""
import io
import random
import shutil
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
STANDIN_GAME = BUILD / "tools" / "standin_game.exe"
SHOTS = REPO / "build" / "demo"
INSTALL_DIR = r"C:\qorn-palmet"
PACKAGE_PATH = "/packages/palmet/qorn_1.0.3.7.zip"
CLOSE_BUTTON = 101  # the main launcher window's close button


def step(text: str) -> None:
    print(f"\n== {text}")


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
        z.write(STANDIN_GAME, "qorn/qorn.exe")
        z.writestr("qorn/data/", b"")
        z.writestr(zipfile.ZipInfo("qorn/data/assets.bin"), rnd.randbytes(4 * 1024 * 1024),
                   compress_type=zipfile.ZIP_STORED)
    return buf.getvalue()


def status_of(desk: Desktop) -> str:
    """The progress area of the main launcher window, owned by the splash window."""
    return shown_texts(desk.owned_windows("Vantorra"))


def wait_status(desk: Desktop, predicate, timeout_s=60) -> str:
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        text = status_of(desk)
        if predicate(text):
            return text
        time.sleep(0.2)
    return status_of(desk)


def main() -> int:
    shutil.rmtree(SHOTS, ignore_errors=True)
    session = winerun.Session()
    session.start()
    prefix = session.new_prefix("demo")
    desk = Desktop(prefix, "demo", BUILD / "tools" / "uidriver.exe", SHOTS)
    server = ChannelServer(port=test_port()).start()
    try:
        package = demo_package()
        server.add_package(PACKAGE_PATH, package)
        url = server.base_url + "/packages/{ditch_name}/qorn_{version}.zip"
        server.set_config({"ClientVersion": "1.0.3.7", "ClientMiniUpdateVersion": "1.0.0.0",
                           "ClientDownloadUrl": url, "Client32DownloadUrl": url,
                           "EntryUrl": server.url(server.entry_path), "CustomParameters": "region=cn"})
        # Slow the package down so the download can be seen.
        server.set_fault(PACKAGE_PATH, trickle_bytes=512 * 1024, trickle_interval=0.4, times=1)
        print(f"channel server on {server.base_url}: configuration ClientVersion 1.0.3.7, "
              f"package of {len(package)} bytes")

        step("First start on a clean machine: install the game")
        proc = desk.start(LAUNCHER)
        desk.wait_window("Vantorra")
        text = wait_status(desk, lambda t: t.startswith("正在下载：") and t != "正在下载：0%")
        print(f"   downloading: {text!r}; screenshot {desk.screenshot('1-downloading')}")
        text = wait_status(desk, lambda t: t == "更新已完成", 120)
        print(f"   status: {text!r}; screenshot {desk.screenshot('2-installed')}")
        for path in (r"\client\qorn\qorn.exe", r"\client\game_client_version.txt", r"\qorn.exe",
                     r"\qorn-uninstall.lnk"):
            print(f"   {INSTALL_DIR}{path}: {'present' if desk.path(INSTALL_DIR + path).exists() else 'MISSING'}")

        step("A second launcher while the first runs")
        other = desk.start(LAUNCHER)
        box = desk.wait_window("qorn")
        print(f"   it says {message_box_text(box)!r}; screenshot {desk.screenshot('3-already-running')}")
        desk.click("qorn", button_texts(box)[0])
        print(f"   and ends with exit code {other.wait(60)}")
        desk.click_id("Vantorra", CLOSE_BUTTON)
        print(f"   the first launcher closed with exit code {proc.wait(60)}")
        record = desk.path(INSTALL_DIR + r"\tempdownload.dat").read_text().replace("\n", " ")
        print(f"   resume record at close: {record}")

        step("Next start: the client is current, nothing is downloaded")
        before = len(server.requests_for(PACKAGE_PATH))
        proc = desk.start(LAUNCHER)
        desk.wait_window("Vantorra")
        text = wait_status(desk, lambda t: t == "更新已完成")
        print(f"   status: {text!r}; package requests this time: {len(server.requests_for(PACKAGE_PATH)) - before}")
        desk.click_id("Vantorra", CLOSE_BUTTON)
        proc.wait(60)
        print(f"   its log, {INSTALL_DIR}\\Vantorra.log:")
        for line in desk.path(INSTALL_DIR + r"\Vantorra.log").read_bytes().decode("latin-1").splitlines():
            print(f"     {line}")
        print(f"   reports received by the statistics paths: {len(server.reports)}")

        step("What this build does not do yet")
        print("   the embedded entry page with login, starting the game and uninstalling are still")
        print("   to come; the main launcher window keeps an empty place where the page will be.")
        print(f"\nScreenshots: {SHOTS}")
        return 0
    finally:
        server.stop()
        prefix.remove()


if __name__ == "__main__":
    sys.exit(main())
