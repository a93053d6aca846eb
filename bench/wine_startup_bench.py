#!/usr/bin/python3
"""How soon the player sees the launcher: the time from the start of the launcher's process to
its splash picture on screen under Wine, next to the least a Windows program does to show a
window (tools/minimal_window) started the same way in the same run.

    wine_startup_bench.py [--pairs N] [--run-dir DIR]

Each start gets a fresh prefix (the launcher's first start on a machine) whose wineserver a
resident helper keeps warm. A watcher in the prefix polls every 10 ms for the visible window;
the time runs from just before the process is started to the moment the watcher has seen the
window. The two programs run alternately, a warm-up pair first. Not a test: it has no goal,
it shows how far the launcher's start-up is from a program's least.
"""
import argparse
import statistics
import subprocess
import sys
import time
from pathlib import Path

from wine_bench_support import Build, bench_run, warm_prefix

# Time for the watcher itself to start and begin polling before the measured program starts.
WATCHER_SETTLE_S = 1.5


def time_to_window(session, build: Build, name: str, exe: Path, caption: str) -> float:
    with warm_prefix(session, name, build.uidriver) as prefix:
        watcher = prefix.popen(build.uidriver, ["wait", caption, "60000"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(WATCHER_SETTLE_S)
        start = time.monotonic()
        proc = prefix.popen(exe, [], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = watcher.wait(90) == 0
        elapsed = time.monotonic() - start
        prefix.kill()
        proc.wait(60)
        if not seen:
            raise SystemExit(f"{exe.name} showed no window {caption!r} within 60 s")
        return elapsed


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--run-dir", default="/dev/shm/launcher-wine-startup-bench")
    args = parser.parse_args()

    build = Build()
    minimal = build.tool("minimal_window.exe")
    build.require(build.launcher, build.uidriver, minimal)
    print(f"wine start-up bench: {build.variant} ({build.why}); {args.pairs} pairs after a warm-up pair")

    ours, reference = [], []
    with bench_run(args.run_dir, build) as (session, _):
        for i in range(args.pairs + 1):
            launcher_s = time_to_window(session, build, "launcher", build.launcher, build.caption)
            minimal_s = time_to_window(session, build, "minimal", minimal, "Minimal window")
            label = "warm-up" if i == 0 else f"pair {i}"
            print(f"  {label}: splash picture {launcher_s:.2f} s, minimal window {minimal_s:.2f} s")
            if i:
                ours.append(launcher_s)
                reference.append(minimal_s)
    ratios = [o / r for o, r in zip(ours, reference)]
    print(f"launcher splash picture: median {statistics.median(ours):.2f} s")
    print(f"minimal window: median {statistics.median(reference):.2f} s")
    print(f"wine start-up: launcher/minimal {statistics.median(ratios):.2f} "
          f"({min(ratios):.2f}\u2013{max(ratios):.2f}), "
          f"{statistics.median(o - r for o, r in zip(ours, reference)):+.2f} s (reference, no goal)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
