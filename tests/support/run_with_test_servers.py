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
  LAUNCHER_TEST_TLS_CA        a throwaway certification authority (DER, a path of this machine)
                              that no store trusts until a test adds it to its own prefix's;
  LAUNCHER_TEST_TLS_CA_PEM    the same in PEM, for the native build's libcurl
  LAUNCHER_TEST_TLS_<NAME>_PORT  https channel servers, one per certificate of
                              tests/support/tls_fixtures.py (GOOD, UNTRUSTED, WRONG_HOST,
                              EXPIRED), each serving the configuration document, the report
                              paths, /blob/small.txt and /packages/tls/package.zip (the file
                              tls-package.zip of the fixture folder, empty until a test writes
                              it), and appending each request to tls-<name>-requests.jsonl there
The exit code is the command's."""
import os
import socket
import subprocess
import sys
import contextlib
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from channel_server import ChannelServer  # noqa: E402
from tls_fixtures import make_tls_fixtures  # noqa: E402

BLOB_SIZE = 3 * 1024 * 1024


def start_tls_servers(fixtures: Path, stack: contextlib.ExitStack) -> dict:
    """One https channel server per certificate; returns their environment variables."""
    tls = make_tls_fixtures(fixtures / "tls")
    package = fixtures / "tls-package.zip"
    package.write_bytes(b"")
    env = {"LAUNCHER_TEST_TLS_CA": str(tls.ca_der), "LAUNCHER_TEST_TLS_CA_PEM": str(tls.ca)}
    for name in ("good", "untrusted", "wrong_host", "expired"):
        server = stack.enter_context(ChannelServer(port=0, tls_context=getattr(tls, name).server_context(),
                                                  requests_log=fixtures / f"tls-{name}-requests.jsonl"))
        server.add_package("/blob/small.txt", b"hello from the channel\n")
        server.add_package("/packages/tls/package.zip", package)
        env[f"LAUNCHER_TEST_TLS_{name.upper()}_PORT"] = str(server.port)
    return env


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
        with tempfile.TemporaryDirectory(prefix="channel-fixtures-") as fixtures, ChannelServer(port=0) as server, \
                contextlib.ExitStack() as tls_servers:
            tls_env = start_tls_servers(Path(fixtures), tls_servers)
            server.add_package("/blob/3mb.bin", bytes(i % 251 for i in range(BLOB_SIZE)))
            server.add_package("/blob/small.txt", b"hello from the channel\n")
            server.add_package("/slow/stall.bin", b"s" * 4096)
            server.set_fault("/slow/stall.bin", stall_after=0, stall_seconds=3)
            env = dict(os.environ,
                       LAUNCHER_TEST_CHANNEL_PORT=str(server.port),
                       LAUNCHER_TEST_SILENT_PORT=str(silent.getsockname()[1]),
                       LAUNCHER_TEST_CLOSED_PORT=str(closed.getsockname()[1]),
                       CHANNEL_SERVER_URL=server.base_url,
                       CHANNEL_FIXTURE_DIR=fixtures,
                       **tls_env)
            return subprocess.run(argv[1:], env=env).returncode
    finally:
        silent.close()
        closed.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
