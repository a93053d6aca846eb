"""The Wine runner's own checks: a session whose display or template is gone is named in one
line, and the stand-ins are taken from the build tree that runs the tests."""
import os
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "scripts"))
import winerun  # noqa: E402


def test_a_display_nobody_serves_is_named():
    assert winerun.display_problem(":987", 0) == "the display :987 does not answer (No such file or directory)"


def test_an_ended_xvfb_is_named():
    ended = subprocess.Popen(["true"])
    ended.wait()
    assert winerun.display_problem(":987", ended.pid).startswith(
        f"the virtual display :987 is gone (its Xvfb, pid {ended.pid}, has ended")


def test_a_live_virtual_display_has_no_problem():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-nolisten", "tcp"], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        with open(read_fd) as r, open(write_fd, "w"):
            number = r.readline().strip()
        assert winerun.display_problem(f":{number}", xvfb.pid) == ""
    finally:
        xvfb.terminate()
        xvfb.wait(30)


def test_a_session_without_its_template_says_so(tmp_path):
    session = winerun.Session(root=tmp_path)
    assert session.problem() == f"the template prefix {tmp_path / 'template'} is missing or incomplete"
    assert not session.load()


def test_the_stand_ins_come_from_the_build_tree_that_runs_the_tests(monkeypatch, tmp_path):
    monkeypatch.setenv("LAUNCHER_WIN_BUILD", str(tmp_path / "elsewhere"))
    assert winerun.build_tools("win32") == tmp_path / "elsewhere" / "tools"
    monkeypatch.delenv("LAUNCHER_WIN_BUILD")
    assert winerun.build_tools("win32") == REPO / "build" / "win32" / "tools"
