"""scripts/channel as a studio runs it (the native build, build/native/studio/channel):
publish prints its summary and refuses a bad tree without writing anything; serve answers as
a static server does (ETag, Last-Modified, ranges, If-Range) with the caching headers a CDN
obeys, serves the configuration document as text, answers and records the reports in logs
outside the served folder, serves nothing but the channel's paths (no link, dot file, key or
other file), runs no worker as root, and ends with nothing left running on SIGINT or SIGTERM."""
import os
import signal
import socket
import stat
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


def logs_of(out: Path) -> Path:
    """Where serve writes its logs by default: a folder beside OUT, never inside it."""
    return out.parent / (out.name + "-logs")


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
    def __init__(self, out: Path, temp: Path, *extra):
        self.port = free_port()
        self.base = f"http://127.0.0.1:{self.port}"
        self.temp = temp  # where serve makes its run folder
        temp.mkdir()
        self.proc = subprocess.Popen([CHANNEL, "serve", out, "--port", str(self.port), *extra], stdout=subprocess.PIPE,
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
    # In a folder only its owner may enter, as a studio's home is: nginx's workers, which
    # never run as root, must read OUT all the same.
    private = tmp_path / "private"
    private.mkdir(mode=0o700)
    out = private / "out"
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
    # A CDN asks again for the document at every request (a 304 while it is unchanged) ...
    assert headers["Cache-Control"] == "no-cache"
    status, headers, _ = get(server.base + CONFIG_PATH, {"If-None-Match": headers["ETag"]})
    assert (status, headers["Cache-Control"]) == (304, "no-cache")

    # ... and keeps a package, whose path names its bytes, for a year without asking.
    immutable = "public, max-age=31536000, immutable"
    status, headers, body = get(package_url)
    assert status == 200 and body == package and headers["Cache-Control"] == immutable
    etag, modified = headers["ETag"], headers["Last-Modified"]
    status, headers, body = get(package_url, {"Range": "bytes=100-"})
    assert status == 206 and body == package[100:] and headers["Cache-Control"] == immutable
    assert headers["Content-Range"] == f"bytes 100-{len(package) - 1}/{len(package)}"
    for validator in (etag, modified):
        status, _, body = get(package_url, {"Range": "bytes=100-", "If-Range": validator})
        assert (status, body) == (206, package[100:])
    # A validator of another version of the file: the whole file, never a piece to splice.
    status, _, body = get(package_url, {"Range": "bytes=100-", "If-Range": '"0-0"'})
    assert (status, body) == (200, package)


def wait_lines(log: Path, count: int) -> list:
    # nginx logs a request once its answer is out, so the line may follow the answer a moment.
    deadline = time.monotonic() + 10
    while (not log.exists() or len(log.read_text().splitlines()) < count) and time.monotonic() < deadline:
        time.sleep(0.05)
    return log.read_text().splitlines()


def test_serve_records_reports_in_logs_outside_the_served_folder(served):
    server, out, _ = served
    info = "/api/laucher_info.php?client_uid=abc&ditch_name=palmet&mac=unkown&os_version=x%20y&ac=create"
    error = "/api/laucher_error.php?client_uid=abc&ditch_name=palmet&mac=unkown&os_version=x&error_msg=launcher%20start"
    for report in (info, error):
        status, headers, _ = get(server.base + report)
        assert (status, headers["Cache-Control"]) == (200, "no-store")  # every report reaches the server
    assert wait_lines(logs_of(out) / "reports.log", 2) == [f"GET {info} HTTP/1.1", f"GET {error} HTTP/1.1"]
    assert get(server.base + CONFIG_PATH)[0] == 200
    assert any(f"GET {CONFIG_PATH} " in line for line in wait_lines(logs_of(out) / "access.log", 1))
    # Players' addresses and ids stay off the tree a CDN is given.
    assert sorted(p.name for p in out.iterdir()) == ["api", "packages"]
    assert stat.S_IMODE(logs_of(out).stat().st_mode) & 0o077 == 0


def test_serve_takes_a_logs_folder_but_none_inside_the_served_one(tmp_path):
    game = make_game(tmp_path / "game", {"qorn.exe": b"MZ game"})
    out = tmp_path / "out"
    assert publish(game, out).returncode == 0
    for inside in (out / "logs", out / "api" / ".." / "x"):
        result = subprocess.run([CHANNEL, "serve", out, "--port", str(free_port()), "--logs", inside],
                                capture_output=True, text=True, timeout=60)
        assert result.returncode == 1 and "--logs" in result.stderr and "inside" in result.stderr, result.stderr
    assert sorted(p.name for p in out.iterdir()) == ["api", "packages"]

    logs = tmp_path / "elsewhere" / "logs"
    server = Server(out, tmp_path / "temp", "--logs", logs)
    try:
        assert get(server.base + "/api/laucher_info.php?ac=create")[0] == 200
        assert wait_lines(logs / "reports.log", 1) == ["GET /api/laucher_info.php?ac=create HTTP/1.1"]
    finally:
        server.stop()
    assert not logs_of(out).exists()


OUTSIDE = b"a file outside the channel folder\n"


def plant_what_is_never_served(out: Path, tmp_path: Path) -> list:
    """Files in OUT that no launcher asks for, and links out of it: the paths to ask for."""
    outside = tmp_path / "outside"
    for name in ("secret.txt", "qorn_9.9.9.9_0123456789abcdef.zip", "client_config_qa2.php"):
        make_game(outside, {name: OUTSIDE})
    planted = {
        # Links to a file or a folder outside OUT, at paths of the channel's own form.
        "packages/palmet/qorn_1.0.0.9_0123456789abcdef.zip": outside / "secret.txt",
        "api/merth/ditches/qa/client_config_qa.php": outside / "secret.txt",
        "packages/linked": outside,
        "api/merth/ditches/qa2": outside,
        # Dot files, a stray key pair and files nobody listed.
        ".env": OUTSIDE,
        ".git/config": OUTSIDE,
        "packages/palmet/.hidden_1.0.0.1_0123456789abcdef.zip": OUTSIDE,
        "notes.txt": OUTSIDE,
        "packages/palmet/readme.txt": OUTSIDE,
        "api/merth/ditches/palmet/client_config_palmet.php.bak": OUTSIDE,
        "api/merth/ditches/palmet/other.php": OUTSIDE,
        "logs/access.log": OUTSIDE,
    }
    for name, what in planted.items():
        path = out / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(what, Path):
            path.symlink_to(what)
        else:
            path.write_bytes(what)
    keygen = subprocess.run([CHANNEL, "keygen", "--out", out / "studio"], capture_output=True, text=True)
    assert keygen.returncode == 0, keygen.stderr
    return list(planted) + ["packages/linked/qorn_9.9.9.9_0123456789abcdef.zip",
                            "api/merth/ditches/qa2/client_config_qa2.php", "studio.key", "studio.pub",
                            "packages/palmet/", "api/", ""]


def test_serve_answers_404_to_everything_but_the_channels_paths(served, tmp_path):
    server, out, _ = served
    package_path = config_of(out)["ClientDownloadUrl"].split("127.0.0.1:1", 1)[1]
    for path in plant_what_is_never_served(out, tmp_path):
        status, _, body = get(f"{server.base}/{path}")
        assert status == 404 and OUTSIDE not in body and b"channel-secret-key" not in body, (path, status)
    # What the channel is made of is still served.
    assert get(server.base + CONFIG_PATH)[0] == 200 and get(server.base + package_path)[0] == 200
    # A path that only begins like a report path is none.
    assert get(server.base + "/api/laucher_info.phpx")[0] == 404


def test_serve_runs_no_worker_as_root(served):
    server, _, _ = served
    # A worker answered, so one runs; it reads OUT, though OUT lies in a folder its owner alone
    # may enter (the fixture's).
    assert get(server.base + CONFIG_PATH)[0] == 200
    workers = [pid for nginx in server.nginx for pid in child_pids(nginx)]
    assert workers, "nginx runs its workers as children of its master"
    for pid in workers:
        status = dict(line.split(":", 1) for line in Path(f"/proc/{pid}/status").read_text().splitlines())
        assert status["Name"].strip() == "nginx"
        uids, gids = status["Uid"].split(), status["Gid"].split()
        assert "0" not in uids and "0" not in gids, (pid, uids, gids)
        assert "0" not in status["Groups"].split(), (pid, status["Groups"])


@pytest.mark.parametrize("unreadable", [".", "api/merth/ditches/palmet/client_config_palmet.php"])
def test_serve_started_by_root_refuses_a_channel_its_workers_cannot_read(tmp_path, unreadable):
    if os.geteuid() != 0:
        pytest.skip("only root's nginx runs its workers as another account")
    game = make_game(tmp_path / "game", {"qorn.exe": b"MZ game"})
    out = tmp_path / "out"
    assert publish(game, out).returncode == 0
    (out / unreadable).chmod(0o700 if unreadable == "." else 0o600)
    result = subprocess.run([CHANNEL, "serve", out, "--port", str(free_port())], capture_output=True, text=True,
                            timeout=60, env=dict(os.environ, TMPDIR=str(tmp_path)))
    named = out if unreadable == "." else out / unreadable
    assert result.returncode == 1, result.stderr
    assert f"cannot read {named} (Permission denied)" in " ".join(result.stderr.split()), result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["game", "out"]


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
