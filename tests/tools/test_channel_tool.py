"""scripts/channel as a studio runs it (the native build, build/native/studio/channel):
publish prints its summary and refuses a bad tree without writing anything; serve answers as
a static server does (ETag, Last-Modified, ranges, If-Range), serves the configuration document
as text, answers and records the reports, hides its logs, and ends with nothing left running
on SIGINT or SIGTERM."""
import os
import signal
import socket
import subprocess
import time
import urllib.error
import urllib.request
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
CHANNEL = REPO / "build" / "native" / "studio" / "channel"
CONFIG_PATH = "/api/merth/ditches/palmet/client_config_palmet.php"


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_game(root: Path, files: dict) -> Path:
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return root


def publish(game: Path, out: Path, *extra: str, version="1.0.0.1", base="http://127.0.0.1:1/"):
    return subprocess.run([CHANNEL, "publish", "--game", game, "--version", version, "--base-url", base,
                           "--out", out, *extra], capture_output=True, text=True, timeout=120)


def config_of(out: Path) -> dict:
    text = (out / CONFIG_PATH.lstrip("/")).read_text()
    return dict(line.split("=", 1) for line in text.splitlines())


def get(url, headers=None):
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=30) as answer:
            return answer.status, dict(answer.headers), answer.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


def child_pids(pid: int) -> list:
    try:
        return [int(p) for p in Path(f"/proc/{pid}/task/{pid}/children").read_text().split()]
    except OSError:
        return []


@pytest.fixture(scope="module", autouse=True)
def built():
    if not CHANNEL.exists():
        pytest.fail(f"{CHANNEL} is missing: build the native preset first")


class Server:
    def __init__(self, out: Path, temp: Path):
        self.port = free_port()
        self.base = f"http://127.0.0.1:{self.port}"
        self.temp = temp  # where serve makes its run folder
        temp.mkdir()
        self.proc = subprocess.Popen([CHANNEL, "serve", out, "--port", str(self.port)], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, env=dict(os.environ, TMPDIR=str(temp)))
        self.banner = self.proc.stdout.readline()
        assert self.banner.startswith("serving "), (self.banner, self.proc.stderr.read())
        self.nginx = child_pids(self.proc.pid)

    def stop(self, sig=signal.SIGTERM) -> int:
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(timeout=30)


@pytest.fixture
def served(tmp_path):
    game = make_game(tmp_path / "game", {"qorn.exe": b"MZ game", "资料/说明.txt": "说明".encode()})
    out = tmp_path / "out"
    assert publish(game, out).returncode == 0
    server = Server(out, tmp_path / "temp")
    yield server, out, game
    server.stop()


def test_publish_prints_a_summary_with_the_urls(tmp_path):
    game = make_game(tmp_path / "game", {"qorn.exe": b"MZ game", "data/a.bin": os.urandom(5000)})
    result = publish(game, tmp_path / "out", "--entry-url", "http://127.0.0.1:1/entry.html",
                     base="https://cdn.example.test/vantorra/")
    assert result.returncode == 0, result.stderr
    config = config_of(tmp_path / "out")
    package_url = config["ClientDownloadUrl"]
    assert package_url.startswith("https://cdn.example.test/vantorra/packages/palmet/qorn_1.0.0.1_")
    assert config["Client32DownloadUrl"] == package_url and config["EntryUrl"] == "http://127.0.0.1:1/entry.html"
    assert "files:         2 in 2 folders" in result.stdout
    for text in (package_url, config["ClientPackageSha256"],
                 "https://cdn.example.test/vantorra" + CONFIG_PATH):
        assert text in result.stdout
    package = tmp_path / "out" / package_url.split("/vantorra/", 1)[1]
    with zipfile.ZipFile(package) as z:
        assert z.testzip() is None
        assert [i.filename for i in z.infolist()] == ["qorn/", "qorn/data/", "qorn/data/a.bin", "qorn/qorn.exe"]


@pytest.mark.parametrize("files,words", [
    ({"game.exe": b"MZ"}, ["no qorn.exe"]),
    ({"qorn.exe": b"MZ", "aux.txt": b"x"}, ["qorn/aux.txt", "device name"]),
    ({"qorn.exe": b"MZ", "a|b.txt": b"x"}, ["qorn/a|b.txt", '"|"']),
])
def test_publish_refuses_a_tree_naming_the_file_and_writes_nothing(tmp_path, files, words):
    game = make_game(tmp_path / "game", files)
    result = publish(game, tmp_path / "out")
    assert result.returncode == 1
    assert all(word in result.stderr for word in words), result.stderr
    assert "nothing was published" in result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["game"]


def test_publish_usage_errors_exit_2(tmp_path):
    assert publish(tmp_path, tmp_path / "out", "--colour", "red").returncode == 2
    result = subprocess.run([CHANNEL, "publish", "--game", tmp_path], capture_output=True, text=True)
    assert result.returncode == 2 and "--version is required" in result.stderr
    assert subprocess.run([CHANNEL, "nonsense"], capture_output=True).returncode == 2


def test_serve_answers_like_a_static_server(served):
    server, out, _ = served
    config = config_of(out)
    package_url = config["ClientDownloadUrl"].replace("http://127.0.0.1:1", server.base)
    package = (out / package_url.split(server.base + "/", 1)[1]).read_bytes()

    status, headers, body = get(server.base + CONFIG_PATH)
    assert status == 200 and headers["Content-Type"].startswith("text/plain")
    assert body == (out / CONFIG_PATH.lstrip("/")).read_bytes()

    status, headers, body = get(package_url)
    assert status == 200 and body == package
    etag, modified = headers["ETag"], headers["Last-Modified"]
    status, headers, body = get(package_url, {"Range": "bytes=100-"})
    assert status == 206 and body == package[100:]
    assert headers["Content-Range"] == f"bytes 100-{len(package) - 1}/{len(package)}"
    for validator in (etag, modified):
        status, _, body = get(package_url, {"Range": "bytes=100-", "If-Range": validator})
        assert (status, body) == (206, package[100:])
    # A validator of another version of the file: the whole file, never a piece to splice.
    status, _, body = get(package_url, {"Range": "bytes=100-", "If-Range": '"0-0"'})
    assert (status, body) == (200, package)


def test_serve_records_reports_and_hides_its_logs(served):
    server, out, _ = served
    info = "/api/laucher_info.php?client_uid=abc&ditch_name=palmet&mac=unkown&os_version=x%20y&ac=create"
    error = "/api/laucher_error.php?client_uid=abc&ditch_name=palmet&mac=unkown&os_version=x&error_msg=launcher%20start"
    assert get(server.base + info)[0] == 200
    assert get(server.base + error)[0] == 200
    # nginx logs a request once its answer is out, so the line may follow the answer a moment.
    log = out / "logs" / "reports.log"
    deadline = time.monotonic() + 10
    while len(log.read_text().splitlines()) < 2 and time.monotonic() < deadline:
        time.sleep(0.05)
    assert log.read_text().splitlines() == [f"GET {info} HTTP/1.1", f"GET {error} HTTP/1.1"]
    for hidden in ("/logs/reports.log", "/logs/access.log", "/logs/"):
        assert get(server.base + hidden)[0] == 404
    assert get(server.base + "/")[0] in (403, 404)  # no listing of the folder


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_serve_ends_on_a_signal_leaving_nothing_running(served, sig):
    server, _, _ = served
    assert server.nginx, "nginx runs as the command's child"
    [run_folder] = server.temp.iterdir()
    assert (run_folder / "nginx.conf").is_file()
    assert server.stop(sig) == 0
    for pid in server.nginx:  # ended and reaped by the command
        assert not Path(f"/proc/{pid}").exists()
    assert list(server.temp.iterdir()) == []
    with pytest.raises(OSError):
        socket.create_connection(("127.0.0.1", server.port), timeout=2).close()


def test_serve_refuses_a_busy_port(served, tmp_path):
    server, out, _ = served
    result = subprocess.run([CHANNEL, "serve", out, "--port", str(server.port)], capture_output=True, text=True,
                            timeout=60)
    assert result.returncode == 1 and "already answers" in result.stderr
