#!/usr/bin/python3
"""Runs a test program with a channel server of its own on loopback.

    run_with_channel_server.py PROGRAM [ARGS...]

The server listens on a free port of 127.0.0.1; the program finds it in the environment as
CHANNEL_SERVER_URL (for example http://127.0.0.1:41234) and sets it up through the server's
/_control/ endpoints. CHANNEL_FIXTURE_DIR names an empty folder (a path of this machine) for
files the server is to serve; a Windows program under Wine reaches it through drive Z:.
The exit code is the program's."""
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from channel_server import ChannelServer  # noqa: E402


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="channel-fixtures-") as fixtures, ChannelServer(port=0) as server:
        env = dict(os.environ, CHANNEL_SERVER_URL=server.base_url, CHANNEL_FIXTURE_DIR=fixtures)
        return subprocess.run(argv[1:], env=env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
