#!/usr/bin/python3
"""The download as players feel it: the real launcher, under Wine, downloading a large package
through its real window (every progress figure reaches the GUI thread), next to curl.exe built
from the same cross-built libcurl fetching the same file from the same server.

    wine_download_bench.py [--mib N] [--pairs N] [--run-dir DIR]

The two sides run alternately (a warm-up pair that is not counted, then N pairs). Each time is
taken from the moment the Windows program is started to the moment the channel server has
handed the package's last byte to the socket, so the launcher's start-up (configuration fetch,
reports) is part of its figure, as it is for a player. Every run gets a fresh prefix on a tmpfs
(default /dev/shm), so the disk's writeback is not measured, and a resident helper keeps the
prefix's wineserver warm so neither side pays for starting Wine's services.

The variant is the one the tests use on this host (scripts/winerun.py); its build must exist.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "scripts"))
import winerun  # noqa: E402
from bench_ratio import PairTimes  # noqa: E402  (beside this file)

GOAL = 0.95
PACKAGE_PATHS = {"win64": "/bench/x64/qorn.zip", "win32": "/bench/x86/qorn.zip"}


def cache_value(build: Path, name: str, default: str) -> str:
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    return default


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
        self.url = f"http://127.0.0.1:{port}{PACKAGE_PATHS[variant]}"
        self.path = PACKAGE_PATHS[variant]
        self.proc = subprocess.Popen(
            ["/usr/bin/python3", str(REPO / "tools" / "channel_server.py"), "--port", str(port),
             "--config-file", str(config), "--requests-log", str(self.requests_log),
             "--package", f"{self.path}={package}"], stdout=subprocess.PIPE, text=True)
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


def timed_run(session, name: str, server: Server, uidriver: Path, exe: Path, args: list[str]) -> float:
    prefix = session.new_prefix(name)
    try:
        # A resident program keeps the prefix's wineserver and services up for the run.
        keeper = prefix.popen(uidriver, ["wait", "no such window", "600000"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        prefix.run(uidriver, ["list"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        start = time.time()
        proc = prefix.popen(exe, args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = server.transfer_end(start, timeout_s=600)
        prefix.kill()
        proc.wait(60)
        keeper.wait(60)
        return end - start
    finally:
        prefix.remove()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=2048)
    parser.add_argument("--pairs", type=int, default=11)
    parser.add_argument("--run-dir", default="/dev/shm/launcher-wine-bench")
    args = parser.parse_args()

    variant, why = winerun.variant()
    build = REPO / "build" / variant
    launcher = build / "e2e-bin" / f"{cache_value(build, 'LAUNCHER_GAME_NAME', 'Vantorra')}.exe"
    uidriver = build / "tools" / "uidriver.exe"
    arch = {"win32": "i686", "win64": "x86_64"}[variant]
    deps = Path(cache_value(build, "LAUNCHER_DEPS_CACHE", str(Path.home() / ".cache" / "launcher-deps")))
    curl_exe = deps / arch / "curl" / "bin" / "curl.exe"
    for needed in (launcher, uidriver, curl_exe):
        if not needed.exists():
            raise SystemExit(f"{needed} is missing: build the {variant} preset and run scripts/setup.sh")
    port = int(cache_value(build, "LAUNCHER_TEST_HOST", "127.0.0.1:47631").rsplit(":", 1)[1])

    package = REPO / "build" / "bench-cache" / f"wine-package-{args.mib}.zip"
    make_package(package, args.mib)
    size_mib = package.stat().st_size / (1 << 20)
    print(f"wine download bench: {variant} ({why}); {size_mib:.0f} MiB package, "
          f"prefixes in {args.run_dir}, {args.pairs} pairs after a warm-up pair")

    run_dir = Path(args.run_dir)
    shutil.rmtree(run_dir, ignore_errors=True)
    session = winerun.Session(run_dir)
    session.start()
    work = run_dir / "server"
    work.mkdir(parents=True, exist_ok=True)
    server = Server(port, package, variant, work)
    times = PairTimes("launcher", "curl.exe")
    try:
        for i in range(args.pairs + 1):
            ours = timed_run(session, "launcher", server, uidriver, launcher, [])
            theirs = timed_run(session, "curl", server, uidriver, curl_exe,
                               ["-s", "-f", "-o", r"C:\bench.bin", server.url])
            label = "warm-up" if i == 0 else f"pair {i}"
            print(f"  {label}: launcher {ours:.2f} s, curl.exe {theirs:.2f} s")
            if i:
                times.add(ours, theirs)
    finally:
        server.stop()
        session.stop()
        shutil.rmtree(run_dir, ignore_errors=True)
    times.report("wine download", GOAL, size_mib)
    return 0


if __name__ == "__main__":
    sys.exit(main())
