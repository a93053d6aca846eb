#!/usr/bin/python3
"""Runs Windows programs under Wine for the tests and the demo.

One run of the tests shares one virtual X display (Xvfb) and one template prefix made by
wineboot; every program or scenario gets its own copy of the template, so no test sees
another's registry or files. Wine runs with a Simplified Chinese locale, which gives the
ANSI code page 936 the launcher's players have.

Only the processes started here are ever ended: the Xvfb by its pid, and each prefix's
wineserver with `wineserver -k` on that prefix.

Command line:
  winerun.py start            start the display and make the template (reused if running)
  winerun.py stop             end every wineserver of this run's prefixes and the display
  winerun.py exec EXE [ARGS]  run EXE in a fresh prefix copy and return its exit code
                              (starts and stops a session of its own when none runs)
The run folder is $LAUNCHER_WINE_RUN, default build/wine-run in the repository.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
LOCALE = "zh_CN.UTF-8"


def run_dir() -> Path:
    return Path(os.environ.get("LAUNCHER_WINE_RUN", REPO / "build" / "wine-run")).resolve()


def base_env(prefix: Path, display: str) -> dict:
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": "win32",
        "WINEDEBUG": env.get("LAUNCHER_WINEDEBUG", "-all"),
        # No Mono or Gecko installer dialogs: neither is available here.
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "DISPLAY": display,
        "LC_ALL": LOCALE,
        "LANG": LOCALE,
    })
    return env


def _pid_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def _link_or_copy(src: str, dst: str) -> None:
    """Hard-links the template's files into a prefix copy (a full copy is ~600 MB), but copies
    the registry files: they are the only template files Wine rewrites, and it does so by
    writing a new file and renaming it, so linked files are never changed in place."""
    if src.endswith(".reg"):
        shutil.copy2(src, dst)
    else:
        os.link(src, dst)


class Session:
    """The run's display and template prefix."""

    def __init__(self, root: Path | None = None):
        self.root = root or run_dir()
        self.state_file = self.root / "session.json"
        self.template = self.root / "template"
        self.prefixes = self.root / "prefixes"
        self.display = ""
        self.xvfb_pid = 0

    def load(self) -> bool:
        try:
            state = json.loads(self.state_file.read_text())
        except (OSError, ValueError):
            return False
        self.display, self.xvfb_pid = state["display"], state["xvfb_pid"]
        return _pid_alive(self.xvfb_pid) and (self.template / "system.reg").exists()

    def start(self) -> None:
        if self.load():
            return
        self.stop()
        self.root.mkdir(parents=True, exist_ok=True)
        self._start_xvfb()
        self._make_template()
        self.state_file.write_text(json.dumps({"display": self.display, "xvfb_pid": self.xvfb_pid}))

    def _start_xvfb(self) -> None:
        read_fd, write_fd = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        with os.fdopen(read_fd) as r:
            number = r.readline().strip()
        if not number:
            proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display, self.xvfb_pid = f":{number}", proc.pid

    def _make_template(self) -> None:
        shutil.rmtree(self.template, ignore_errors=True)
        env = base_env(self.template, self.display)
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        # There is no window manager on the virtual display: Wine draws captions and frames
        # itself, so screenshots show windows as a player sees them.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/t", "REG_SZ", "/d", "N", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=300)

    def new_prefix(self, name: str) -> "Prefix":
        self.prefixes.mkdir(parents=True, exist_ok=True)
        path = Path(tempfile.mkdtemp(prefix=name + "-", dir=self.prefixes))
        path.rmdir()
        shutil.copytree(self.template, path, symlinks=True, copy_function=_link_or_copy)
        return Prefix(path, self.display)

    def stop(self) -> None:
        if self.prefixes.exists():
            for p in self.prefixes.iterdir():
                Prefix(p, self.display).kill()
        if self.template.exists():
            Prefix(self.template, self.display).kill()
        if self.state_file.exists():
            try:
                pid = json.loads(self.state_file.read_text())["xvfb_pid"]
                if pid and _pid_alive(pid):
                    os.kill(pid, signal.SIGTERM)
            except (OSError, ValueError, KeyError):
                pass
            self.state_file.unlink(missing_ok=True)


class Prefix:
    """One Wine prefix copied from the template."""

    def __init__(self, path: Path, display: str):
        self.path = Path(path)
        self.display = display

    @property
    def env(self) -> dict:
        return base_env(self.path, self.display)

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def host_path(self, windows_path: str) -> Path:
        """The Linux path of a C: path, e.g. C:\\qorn-palmet -> <prefix>/drive_c/qorn-palmet."""
        drive, _, rest = windows_path.partition(":")
        if drive.upper() != "C":
            raise ValueError(f"only drive C: is mapped: {windows_path}")
        return self.drive_c.joinpath(*[p for p in rest.replace("\\", "/").split("/") if p])

    def popen(self, exe, args=(), **kw) -> subprocess.Popen:
        return subprocess.Popen(["wine", str(exe), *map(str, args)], env=self.env, **kw)

    def run(self, exe, args=(), timeout=120, **kw) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", str(exe), *map(str, args)], env=self.env, timeout=timeout, **kw)

    def run_capture(self, exe, args=(), timeout=120) -> subprocess.CompletedProcess:
        """Runs a program and returns its output. The output goes through files, not pipes:
        the first program of a prefix starts Wine's background services, which inherit its
        handles and would hold a pipe open long after the program itself has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = self.run(exe, args, timeout=timeout, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
            return result

    def wait_idle(self, timeout=60) -> None:
        """Waits until every program of the prefix has ended."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)

    def kill(self) -> None:
        """Ends this prefix's wineserver and with it every program it runs."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def remove(self) -> None:
        self.kill()
        shutil.rmtree(self.path, ignore_errors=True)


def exec_in_fresh_prefix(exe: str, args: list[str]) -> int:
    session = Session()
    owned = not session.load()
    if owned:
        session.start()
    prefix = session.new_prefix(Path(exe).stem)
    try:
        # No timeout here: ctest applies its own to the whole command.
        return prefix.run(exe, args, timeout=None).returncode
    finally:
        prefix.remove()
        if owned:
            session.stop()


def main(argv: list[str]) -> int:
    if len(argv) >= 2 and argv[1] == "start":
        Session().start()
        return 0
    if len(argv) >= 2 and argv[1] == "stop":
        Session().stop()
        return 0
    if len(argv) >= 3 and argv[1] == "exec":
        return exec_in_fresh_prefix(argv[2], argv[3:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
