#!/usr/bin/python3
"""The demo: runs the launcher built for the loopback channel under Wine, the way a player
would meet it, and tells what happened and where the screenshots are."""
import shutil
import sys
from pathlib import Path

import winerun
from desktop import Desktop, button_texts, message_box_text

REPO = Path(__file__).resolve().parent.parent
BUILD = REPO / "build" / "win32"
LAUNCHER = BUILD / "e2e-bin" / "Vantorra.exe"
SHOTS = REPO / "build" / "demo"
INSTALL_DIR = r"C:\qorn-palmet"


def step(text: str) -> None:
    print(f"\n== {text}")


def start_and_show_splash(desk: Desktop, label: str):
    proc = desk.start(LAUNCHER)
    desk.wait_window("Vantorra")
    print(f"   the launcher window is up; screenshot {desk.screenshot(label)}")
    return proc


def main() -> int:
    shutil.rmtree(SHOTS, ignore_errors=True)
    session = winerun.Session()
    session.start()
    prefix = session.new_prefix("demo")
    desk = Desktop(prefix, "demo", BUILD / "tools" / "uidriver.exe", SHOTS)
    try:
        step("First start on a clean machine")
        proc = start_and_show_splash(desk, "1-first-start")
        desk.close("Vantorra")
        print(f"   closed by the player, exit code {proc.wait(60)}")
        for d in (INSTALL_DIR, INSTALL_DIR + r"\client"):
            print(f"   {d}: {'created' if desk.path(d).is_dir() else 'MISSING'}")
        log = desk.path(INSTALL_DIR + r"\Vantorra.log")
        print(f"   log file: {'present' if log.exists() else 'none (its folder did not exist yet when it opened)'}")

        step("Second start, and a third launcher while the second runs")
        proc = start_and_show_splash(desk, "2-second-start")
        other = desk.start(LAUNCHER)
        box = desk.wait_window("qorn")
        print(f"   the third launcher says {message_box_text(box)!r}; screenshot {desk.screenshot('3-already-running')}")
        desk.click("qorn", button_texts(box)[0])
        print(f"   it ended with exit code {other.wait(60)}")
        desk.close("Vantorra")
        print(f"   the second launcher closed with exit code {proc.wait(60)}")
        print(f"   its log, {INSTALL_DIR}\\Vantorra.log:")
        for line in log.read_bytes().decode("latin-1").splitlines():
            print(f"     {line}")

        step("What this build does not do yet")
        print("   fetching the channel configuration, downloading and unpacking the game, the")
        print("   desktop shortcuts, the embedded entry page, login, game start, reports to the")
        print("   statistics server and uninstalling are still to come; the launcher window is a")
        print("   plain placeholder with the game's name.")
        print(f"\nScreenshots: {SHOTS}")
        return 0
    finally:
        prefix.remove()


if __name__ == "__main__":
    sys.exit(main())
