"""Shared pieces of the benchmarks under Wine: the build of this host's variant, a stored
package made once, the channel server in a process of its own, prefixes whose wineserver is
kept warm, and the resident peak of a Windows program's process."""
import json
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile
from contextlib import contextmanager
from pathlib import Path

from bench_ratio import PairTimes  # beside this file

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "scripts"))
import winerun  # noqa: E402

PACKAGE_PATHS = {"win64": "/bench/x64/qorn.zip", "win32": "/bench/x86/qorn.zip"}


def cache_value(build: Path, name: str, default: str) -> str:
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    return default


class Build:
    """The Windows build this host runs and its programs."""

    def __init__(self):
        self.variant, self.why = winerun.variant()
        self.dir = REPO / "build" / self.variant
        name = cache_value(self.dir, "LAUNCHER_GAME_NAME", "Vantorra")
        self.launcher = self.dir / "e2e-bin" / f"{name}.exe"
        self.caption = name  # the splash window's caption is the game's name
        self.uidriver = self.dir / "tools" / "uidriver.exe"
        self.port = int(cache_value(self.dir, "LAUNCHER_TEST_HOST", "127.0.0.1:47631").rsplit(":", 1)[1])
        self.arch = {"win32": "i686", "win64": "x86_64"}[self.variant]
        self.deps = Path(cache_value(self.dir, "LAUNCHER_DEPS_CACHE", str(Path.home() / ".cache" / "launcher-deps")))

    def tool(self, name: str) -> Path:
        return self.dir / "tools" / name

    def require(self, *paths: Path) -> None:
        for needed in paths:
            if not needed.exists():
                raise SystemExit(f"{needed} is missing: build the {self.variant} preset and run scripts/setup.sh")


def make_package(path: Path, mib: int) -> None:
    """A zip with one stored entry of incompressible bytes, made once and kept."""
    size = mib << 20
    if path.exists() and path.stat().st_size > size:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(".tmp")
    rnd = random.Random(7)
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_STORED, allowZip64=True) as z:
        with z.open(zipfile.ZipInfo("qorn/data/big.bin"), "w", force_zip64=True) as entry:
            for _ in range(mib):
                entry.write(rnd.randbytes(1 << 20))
    os.replace(tmp, path)
    # The disk's writeback of the new file would otherwise land on the first timed runs.
    os.sync()


class Server:
    """tools/channel_server.py in a process of its own, so its sending does not share a
    Python interpreter with the bench's polling."""

    def __init__(self, port: int, package: Path, variant: str, work: Path):
        self.requests_log = work / "requests.jsonl"
        self.requests_log.unlink(missing_ok=True)
        config = work / "config.txt"
        config.write_text("ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.0.0\n"
                          f"ClientDownloadUrl=@BASE_URL@{PACKAGE_PATHS['win64']}\n"
                          f"Client32DownloadUrl=@BASE_URL@{PACKAGE_PATHS['win32']}\n"
                          "EntryUrl=@BASE_URL@/entry/index.html\n")
        self.base_url = f"http://127.0.0.1:{port}"
        self.url = self.base_url + PACKAGE_PATHS[variant]
        self.path = PACKAGE_PATHS[variant]
        self.proc = subprocess.Popen(
            ["/usr/bin/python3", str(REPO / "tools" / "channel_server.py"), "--port", str(port),
             "--config-file", str(config), "--requests-log", str(self.requests_log),
             # Both package paths: the Windows variant asks for its own, while the native pipeline
             # (a 64-bit program) asks for ClientDownloadUrl's on any host.
             *(arg for path in sorted(set(PACKAGE_PATHS.values())) for arg in ("--package", f"{path}={package}"))],
            stdout=subprocess.PIPE, text=True)
        if "listening" not in (self.proc.stdout.readline() or ""):
            self.stop()
            raise SystemExit(f"the channel server did not start on port {port}")

    def transfer_end(self, since: float, timeout_s: float) -> float:
        """end_time of the first complete package transfer that began after `since`."""
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            try:
                lines = self.requests_log.read_text().splitlines()
            except OSError:
                lines = []
            for line in lines:
                entry = json.loads(line)
                if (entry["path"] == self.path and entry["time"] >= since and entry["complete"]
                        and entry["status"] == 200):
                    return entry["end_time"]
            time.sleep(0.05)
        raise SystemExit(f"no complete transfer of {self.path} within {timeout_s} s")

    def stop(self) -> None:
        self.proc.terminate()
        self.proc.wait(30)


@contextmanager
def bench_run(run_dir: str, build: Build, package: Path | None = None):
    """The benchmark's Wine session in run_dir (a tmpfs by default) and, given a package, the
    channel server serving it; both ended and the folder removed afterwards."""
    root = Path(run_dir)
    shutil.rmtree(root, ignore_errors=True)
    session = winerun.Session(root)
    server = None
    try:
        session.start()
        if package:
            work = root / "server"
            work.mkdir(parents=True, exist_ok=True)
            server = Server(build.port, package, build.variant, work)
        yield session, server
    finally:
        if server:
            server.stop()
        session.stop()
        shutil.rmtree(root, ignore_errors=True)


@contextmanager
def warm_prefix(session: winerun.Session, name: str, uidriver: Path):
    """A fresh prefix whose wineserver and services a resident program keeps up, so the
    measured program does not pay for starting them; removed afterwards."""
    prefix = session.new_prefix(name)
    keeper = prefix.popen(uidriver, ["wait", "no such window", "600000"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        prefix.run(uidriver, ["list"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        yield prefix
    finally:
        prefix.kill()
        keeper.wait(60)
        prefix.remove()


def windows_process_pid(prefix: winerun.Prefix, exe_name: str) -> int | None:
    """The Linux process that runs the Windows program exe_name in this prefix."""
    wanted = f"WINEPREFIX={prefix.path}".encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
            if exe_name.encode() not in cmdline:
                continue
            if wanted in (entry / "environ").read_bytes().split(b"\0"):
                return int(entry.name)
        except OSError:
            continue
    return None


def status_kib(pid: int, field: str) -> int | None:
    """A figure of /proc/<pid>/status in KiB (VmHWM: the resident peak), None once it ended."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    except OSError:
        return None
    return None


def timed_transfer(session: winerun.Session, name: str, server, uidriver: Path, exe: Path, args: list[str]) -> float:
    """Seconds from starting exe in a warm fresh prefix to the end of its package transfer as
    the server saw it (server.transfer_end)."""
    with warm_prefix(session, name, uidriver) as prefix:
        start = time.time()
        proc = prefix.popen(exe, args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = server.transfer_end(start, timeout_s=600)
        prefix.kill()
        proc.wait(60)
        return end - start


def launcher_and_curl_pairs(session: winerun.Session, server, build: Build, curl_exe: Path, pairs: int) -> PairTimes:
    """The launcher and curl.exe fetching server.url alternately: a warm-up pair that is not
    counted, then pairs counted pairs, each printed."""
    times = PairTimes("launcher", "curl.exe")
    for i in range(pairs + 1):
        ours = timed_transfer(session, "launcher", server, build.uidriver, build.launcher, [])
        theirs = timed_transfer(session, "curl", server, build.uidriver, curl_exe,
                                ["-s", "-f", "-o", r"C:\bench.bin", server.url])
        label = "warm-up" if i == 0 else f"pair {i}"
        print(f"  {label}: launcher {ours:.2f} s, curl.exe {theirs:.2f} s")
        if i:
            times.add(ours, theirs)
    return times
