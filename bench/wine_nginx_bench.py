#!/usr/bin/python3
"""The download from nginx as players feel it: the real launcher under Wine fetching its package
from nginx (scripts/channel serve, the server a studio's channel runs on), next to curl.exe of
the same cross-built libcurl fetching the same file from the same nginx.

    wine_nginx_bench.py [--mib N] [--pairs N] [--run-dir DIR]

As in wine_download_bench.py: alternating pairs after a warm-up pair, each run in a fresh prefix
on a tmpfs with its wineserver kept warm, each time taken from the start of the Windows program
to the moment nginx logged the end of the package's transfer (so the launcher's start-up is part
of its figure). The channel folder holds the package and a configuration document naming it;
the launcher's reports are answered by nginx as a channel's are.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from wine_bench_support import REPO, Build, bench_run, launcher_and_curl_pairs, make_package

GOAL = 0.95
CHANNEL = REPO / "build" / "native" / "studio" / "channel"
# serve answers only a channel's paths: a package's names its version and 16 hex digits.
PACKAGE_PATH = "/packages/palmet/qorn_1.0.3.7_0000000000000000.zip"


class NginxChannel:
    """A channel folder with the package, served by scripts/channel serve on the launcher's port.
    It lies beside the package, which it holds as a hard link (serve follows no link), and its
    logs beside it."""

    def __init__(self, port: int, package: Path):
        self.size = package.stat().st_size
        self.site = package.parent / "nginx-site"
        logs = package.parent / "nginx-site-logs"
        for old in (self.site, logs):
            shutil.rmtree(old, ignore_errors=True)
        (self.site / PACKAGE_PATH.lstrip("/")).parent.mkdir(parents=True)
        os.link(package, self.site / PACKAGE_PATH.lstrip("/"))
        self.url = f"http://127.0.0.1:{port}{PACKAGE_PATH}"
        config = self.site / "api/merth/ditches/palmet/client_config_palmet.php"
        config.parent.mkdir(parents=True)
        config.write_text(f"ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.3.7\nClientDownloadUrl={self.url}\n"
                          f"Client32DownloadUrl={self.url}\n")
        self.access_log = logs / "access.log"
        self.proc = subprocess.Popen([CHANNEL, "serve", self.site, "--port", str(port)], stdout=subprocess.PIPE,
                                     text=True)
        if not (self.proc.stdout.readline() or "").startswith("serving "):
            self.stop()
            raise SystemExit(f"nginx did not start on port {port}")

    def transfer_end(self, since: float, timeout_s: float) -> float:
        """The end time nginx logged for the first whole transfer of the package after since."""
        pattern = re.compile(r'"GET ' + re.escape(PACKAGE_PATH) + r' HTTP/1\.1" 200 (\d+) .* (\d+\.\d+)$')
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            for line in self.access_log.read_text().splitlines() if self.access_log.exists() else []:
                m = pattern.search(line)
                if m and int(m.group(1)) == self.size and float(m.group(2)) >= since:
                    return float(m.group(2))
            time.sleep(0.05)
        raise SystemExit(f"no whole transfer of {PACKAGE_PATH} within {timeout_s} s")

    def stop(self) -> None:
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(30)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=2048)
    parser.add_argument("--pairs", type=int, default=11)
    parser.add_argument("--run-dir", default="/dev/shm/launcher-wine-nginx-bench")
    args = parser.parse_args()

    build = Build()
    curl_exe = build.deps / build.arch / "curl-thunks" / "bin" / "curl.exe"
    build.require(build.launcher, build.uidriver, curl_exe, CHANNEL)
    package = REPO / "build" / "bench-cache" / f"wine-package-{args.mib}.zip"
    make_package(package, args.mib)
    size = package.stat().st_size
    print(f"wine nginx bench: {build.variant} ({build.why}); {size / (1 << 20):.0f} MiB package from nginx, "
          f"prefixes in {args.run_dir}, {args.pairs} pairs after a warm-up pair")

    with bench_run(args.run_dir, build) as (session, _):
        channel = NginxChannel(build.port, package)
        try:
            times = launcher_and_curl_pairs(session, channel, build, curl_exe, args.pairs)
        finally:
            channel.stop()
    times.report("wine nginx download", GOAL, size / (1 << 20))
    return 0


if __name__ == "__main__":
    sys.exit(main())
