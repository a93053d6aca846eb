#!/usr/bin/python3
"""Runs a command (the Windows tests under Wine) with the loopback servers some tests talk to.

    run_with_test_servers.py COMMAND [ARGS...]

Everything listens on 127.0.0.1 on free ports, passed to the command in the environment:
  LAUNCHER_TEST_CHANNEL_PORT  the channel server, serving
                              /blob/3mb.bin     3 MiB whose byte i is i % 251
                              /blob/small.txt   "hello from the channel\\n"
                              /slow/stall.bin   headers, then silence for 3 s, then a dropped connection
  LAUNCHER_TEST_SILENT_PORT   accepts connections and never answers
  LAUNCHER_TEST_CLOSED_PORT   nothing listens (connections are refused)
  CHANNEL_SERVER_URL          the channel server's base URL, for tests that set it up
                              themselves through its /_control/ endpoints
  CHANNEL_FIXTURE_DIR         an empty folder (a path of this machine) for files the server
                              is to serve; Windows programs under Wine reach it through Z:
The exit code is the command's."""
import os
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from channel_server import ChannelServer  # noqa: E402

BLOB_SIZE = 3 * 1024 * 1024


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    silent = socket.socket()
    closed = socket.socket()
    try:
        # A listening socket whose connections are never accepted: the kernel completes the
        # handshake, nobody ever reads or answers.
        silent.bind(("127.0.0.1", 0))
        silent.listen(64)
        # Bound but not listening: the port stays ours and every connection is refused.
        closed.bind(("127.0.0.1", 0))
        with tempfile.TemporaryDirectory(prefix="channel-fixtures-") as fixtures, ChannelServer(port=0) as server:
            server.add_package("/blob/3mb.bin", bytes(i % 251 for i in range(BLOB_SIZE)))
            server.add_package("/blob/small.txt", b"hello from the channel\n")
            server.add_package("/slow/stall.bin", b"s" * 4096)
            server.set_fault("/slow/stall.bin", stall_after=0, stall_seconds=3)
            env = dict(os.environ,
                       LAUNCHER_TEST_CHANNEL_PORT=str(server.port),
                       LAUNCHER_TEST_SILENT_PORT=str(silent.getsockname()[1]),
                       LAUNCHER_TEST_CLOSED_PORT=str(closed.getsockname()[1]),
                       CHANNEL_SERVER_URL=server.base_url,
                       CHANNEL_FIXTURE_DIR=fixtures)
            return subprocess.run(argv[1:], env=env).returncode
    finally:
        silent.close()
        closed.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
