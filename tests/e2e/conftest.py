"""Fixtures of the end-to-end scenarios: the real launcher under Wine in a virtual display,
each scenario in its own fresh prefix copied from the run's template."""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "scripts"))
sys.path.insert(0, str(REPO / "tools"))
import winerun  # noqa: E402
from channel_server import ChannelServer  # noqa: E402
from desktop import Desktop  # noqa: E402

# The build of the variant this run tests (win32 where 32-bit code runs, else win64).
VARIANT = winerun.current_variant()
BUILD = Path(os.environ.get("LAUNCHER_WIN_BUILD", REPO / "build" / VARIANT))
LAUNCHER = BUILD / "e2e-bin" / "Vantorra.exe"
UIDRIVER = BUILD / "tools" / "uidriver.exe"
STANDIN_GAME = BUILD / "tools" / "standin_game.exe"
STANDIN_PLATFORM = BUILD / "tools" / "standin_platform.exe"
PLANTED_DLL = BUILD / "tools" / "planted_dll.dll"
SCREENSHOTS = Path(os.environ.get("LAUNCHER_SCREENSHOTS", REPO / "build" / "screenshots"))



def _cache_value(name: str, default: str) -> str:
    try:
        for line in (BUILD / "CMakeCache.txt").read_text().splitlines():
            if line.startswith(name + ":"):
                return line.split("=", 1)[1]
    except OSError:
        pass
    return default


# The e2e launcher's configuration and statistics server: host:port compiled into it.
TEST_HOST = _cache_value("LAUNCHER_TEST_HOST", "127.0.0.1:47631")
TEST_PORT = int(TEST_HOST.rsplit(":", 1)[1])

INSTALL_DIR = r"C:\qorn-palmet"
# The exit status `wine` gives a program that crashed with an access violation: the crash
# filter ends the process with the exception's code, of which Wine passes on the low byte.
ACCESS_VIOLATION_EXIT = 0xC0000005 & 0xFF
GAME_EXE = r"C:\qorn-palmet\client\qorn\qorn.exe"


@pytest.fixture(scope="session")
def wine_session():
    for exe in (LAUNCHER, UIDRIVER, STANDIN_GAME, STANDIN_PLATFORM, PLANTED_DLL):
        if not exe.exists():
            pytest.fail(f"{exe} is missing: build the {VARIANT} preset first")
    session = winerun.Session()
    owned = not session.load()
    if owned:
        session.start()
    yield session
    if owned:
        session.stop()


@pytest.fixture
def desktop(wine_session, request):
    name = request.node.name.replace("[", "-").replace("]", "").replace("/", "-")
    prefix = wine_session.new_prefix(name)
    d = Desktop(prefix, name, UIDRIVER, SCREENSHOTS)
    yield d
    prefix.remove()  # ends the prefix's wineserver and every program in it
    for proc in d.started:
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()


@pytest.fixture
def channel(tmp_path):
    """The channel server on the port the e2e launcher was built for."""
    server = ChannelServer(port=TEST_PORT, reports_log=tmp_path / "reports.jsonl").start()
    yield server
    server.stop()


def read_log_bytes(desktop: Desktop, app_name: str = "Vantorra") -> bytes:
    return desktop.path(rf"{INSTALL_DIR}\{app_name}.log").read_bytes()


def place_program(desktop: Desktop, source: Path, windows_path: str) -> Path:
    target = desktop.path(windows_path)
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(source, target)
    return target


def wait_for(predicate, timeout_s: float = 30, interval: float = 0.2):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()
