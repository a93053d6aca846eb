#!/usr/bin/python3
"""The launcher's memory as the player's machine sees it: the resident peak (peak working set)
of the real launcher under Wine while it downloads and unpacks a 1 GiB package, next to the
same launcher's peak when its client is current (nothing to fetch), and to the native
pipeline's peak for the same download and unpacking (bench/pipeline_peak), all in one run.

    wine_memory_bench.py [--mib N] [--runs N] [--run-dir DIR]

The peak is the kernel's high-water mark of the Windows program's process (VmHWM), read
until the launcher logs that the update is finished. What the download and unpacking add is
the difference between the first two figures; the native pipeline shows what the same work
needs without Wine and without a window. Not a test: it has no goal.
"""
import argparse
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from wine_bench_support import (REPO, Build, Server, bench_run, make_package, status_kib, warm_prefix,
                                windows_process_pid)

INSTALL_DIR = r"C:\qorn-palmet"
CONFIG_PATH = "/api/merth/ditches/palmet/client_config_palmet.php"


def launcher_peak_kib(session, build: Build, current_client: bool, timeout_s: float = 900) -> int:
    with warm_prefix(session, "current" if current_client else "install", build.uidriver) as prefix:
        if current_client:
            client = prefix.host_path(INSTALL_DIR + r"\client")
            client.mkdir(parents=True)
            (client / "game_client_version.txt").write_bytes(b"1.0.3.7")
        log = prefix.host_path(INSTALL_DIR + rf"\{build.launcher.stem}.log")
        proc = prefix.popen(build.launcher, [], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout_s
        pid, peak = None, 0
        while time.monotonic() < deadline:
            pid = pid or windows_process_pid(prefix, build.launcher.name)
            if pid:
                peak = max(peak, status_kib(pid, "VmHWM") or 0)
            if log.exists() and b"is ready" in log.read_bytes():
                break
            time.sleep(0.2)
        else:
            raise SystemExit(f"the launcher did not finish its update within {timeout_s} s")
        time.sleep(0.5)  # the status and the desktop steps settle
        if pid:
            peak = max(peak, status_kib(pid, "VmHWM") or 0)
        prefix.kill()
        proc.wait(60)
        if not peak:
            raise SystemExit("the launcher's process was not found")
        return peak


def native_peak_kib(server: Server, work: Path) -> tuple[int, int]:
    program = REPO / "build" / "native" / "bench" / "pipeline_peak"
    if not program.exists():
        raise SystemExit(f"{program} is missing: build the native preset")
    install = work / "native-install"
    shutil.rmtree(install, ignore_errors=True)
    out = subprocess.run([str(program), server.base_url + CONFIG_PATH, str(install)], capture_output=True,
                         text=True, timeout=900)
    shutil.rmtree(install, ignore_errors=True)
    figures = dict(part.split("=") for part in out.stdout.split())
    if out.returncode != 0 or figures.get("installed") != "1":
        raise SystemExit(f"the native pipeline did not install the package: {out.stdout}{out.stderr}")
    return int(figures["start_kib"]), int(figures["peak_kib"])


def mib(kib: float) -> str:
    return f"{kib / 1024:.1f} MiB"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--run-dir", default="/dev/shm/launcher-wine-memory-bench")
    args = parser.parse_args()

    build = Build()
    build.require(build.launcher, build.uidriver)
    package = REPO / "build" / "bench-cache" / f"wine-package-{args.mib}.zip"
    make_package(package, args.mib)
    print(f"wine memory bench: {build.variant} ({build.why}); "
          f"{package.stat().st_size / (1 << 20):.0f} MiB package, {args.runs} runs of each")

    installs, currents, natives = [], [], []
    with bench_run(args.run_dir, build, package) as (session, server):
        for i in range(args.runs):
            installs.append(launcher_peak_kib(session, build, current_client=False))
            currents.append(launcher_peak_kib(session, build, current_client=True))
            natives.append(native_peak_kib(server, session.root))
            print(f"  run {i + 1}: launcher installing {mib(installs[-1])}, launcher with a current client "
                  f"{mib(currents[-1])}, native pipeline {mib(natives[-1][1])} "
                  f"(+{mib(natives[-1][1] - natives[-1][0])} over its start)")
    install = statistics.median(installs)
    current = statistics.median(currents)
    native_rise = statistics.median(peak - start for start, peak in natives)
    print(f"launcher peak working set, download and unpack: median {mib(install)}")
    print(f"launcher peak working set, current client: median {mib(current)}")
    print(f"native pipeline peak: median {mib(statistics.median(p for _, p in natives))}, "
          f"{mib(native_rise)} over its start")
    print(f"wine memory: the download and unpack add {mib(install - current)} to the launcher "
          f"(native pipeline: {mib(native_rise)}; reference, no goal)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
