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
import subprocess
import sys
import time
from pathlib import Path

from bench_ratio import PairTimes  # beside this file
from wine_bench_support import REPO, Build, Server, bench_run, make_package, warm_prefix

GOAL = 0.95


def timed_run(session, name: str, server: Server, uidriver: Path, exe: Path, args: list[str]) -> float:
    with warm_prefix(session, name, uidriver) as prefix:
        start = time.time()
        proc = prefix.popen(exe, args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = server.transfer_end(start, timeout_s=600)
        prefix.kill()
        proc.wait(60)
        return end - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=2048)
    parser.add_argument("--pairs", type=int, default=11)
    parser.add_argument("--run-dir", default="/dev/shm/launcher-wine-bench")
    args = parser.parse_args()

    build = Build()
    variant, launcher, uidriver = build.variant, build.launcher, build.uidriver
    curl_exe = build.deps / build.arch / "curl-thunks" / "bin" / "curl.exe"
    build.require(launcher, uidriver, curl_exe)

    package = REPO / "build" / "bench-cache" / f"wine-package-{args.mib}.zip"
    make_package(package, args.mib)
    size_mib = package.stat().st_size / (1 << 20)
    print(f"wine download bench: {variant} ({build.why}); {size_mib:.0f} MiB package, "
          f"prefixes in {args.run_dir}, {args.pairs} pairs after a warm-up pair")

    times = PairTimes("launcher", "curl.exe")
    with bench_run(args.run_dir, build, package) as (session, server):
        for i in range(args.pairs + 1):
            ours = timed_run(session, "launcher", server, uidriver, launcher, [])
            theirs = timed_run(session, "curl", server, uidriver, curl_exe,
                               ["-s", "-f", "-o", r"C:\bench.bin", server.url])
            label = "warm-up" if i == 0 else f"pair {i}"
            print(f"  {label}: launcher {ours:.2f} s, curl.exe {theirs:.2f} s")
            if i:
                times.add(ours, theirs)
    times.report("wine download", GOAL, size_mib)
    return 0


if __name__ == "__main__":
    sys.exit(main())
