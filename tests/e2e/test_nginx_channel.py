"""The real launcher against a channel as a studio makes and serves it: the game tree published
by scripts/channel publish and served by nginx (scripts/channel serve) on the port the e2e
launcher was built for. A fresh install with non-ASCII names, the reports in serve's
reports.log (beside OUT), an update from version 1 to 2, and a download killed hard and resumed
from nginx, also after the package at its URL was replaced (never spliced)."""
import os
import random
import re
import shutil
import signal
import subprocess
import urllib.parse
from pathlib import Path

import pytest
from conftest import INSTALL_DIR, LAUNCHER, REPO, STANDIN_GAME, TEST_PORT, wait_for
from test_install import close_launcher, download_percent, status_text, wait_status
from test_reports import MAC, OS_DESCRIPTION, UID

SPLASH = "Vantorra"
CHANNEL = REPO / "build" / "native" / "studio" / "channel"
CLIENT_GAME = INSTALL_DIR + r"\client\qorn"


def game_tree(seed: int, big_bytes: int = 0) -> dict:
    """The stand-in game with data under Chinese, Japanese and accented names, an empty
    folder, and optionally a large incompressible file so a transfer takes a while."""
    rnd = random.Random(seed)
    tree = {
        "qorn.exe": STANDIN_GAME.read_bytes(),
        "资料/说明.txt": f"版本 {seed}\n".encode(),
        "地图/第一章/场景.bin": bytes(rnd.getrandbits(8) for _ in range(50000)),
        "données/été.txt": b"accents\n",
        "セーブ/": None,
    }
    if big_bytes:
        tree["地图/大文件.bin"] = rnd.randbytes(big_bytes)
    return tree


def write_tree(root: Path, tree: dict) -> Path:
    for name, data in tree.items():
        path = root / name
        if data is None:
            path.mkdir(parents=True, exist_ok=True)
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
    return root


def installed_tree(desktop) -> dict:
    root = desktop.path(CLIENT_GAME)
    tree = {}
    for path in sorted(root.rglob("*")):
        name = path.relative_to(root).as_posix()
        if path.is_dir():
            if not any(path.iterdir()):
                tree[name + "/"] = None
        else:
            tree[name] = path.read_bytes()
    return tree


def expected(tree: dict) -> dict:
    """What an install shows: files, and folders only where they are empty."""
    return {k: v for k, v in tree.items() if v is not None or not any(o != k and o.startswith(k) for o in tree)}


class StudioChannel:
    """A channel folder published by scripts/channel and served by nginx on TEST_PORT."""

    def __init__(self, root: Path):
        if not CHANNEL.exists():
            pytest.fail(f"{CHANNEL} is missing: build the native preset first")
        self.root = root
        self.out = root / "out"
        self.logs = root / "out-logs"  # where serve writes its logs: beside OUT, never inside it
        self.base = f"http://127.0.0.1:{TEST_PORT}"
        self.server = None
        self.games = 0

    def publish(self, tree: dict, version: str, *extra, out: Path | None = None) -> dict:
        """extra: further publish options, such as "--sign-key" and a key file."""
        self.games += 1
        game = write_tree(self.root / f"game{self.games}", tree)
        result = subprocess.run([CHANNEL, "publish", "--game", game, "--version", version, "--base-url", self.base,
                                 "--out", out or self.out, *extra], capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, result.stderr
        channel = extra[extra.index("--channel") + 1] if "--channel" in extra else "palmet"
        return self.config(out or self.out, channel)

    def config(self, out: Path | None = None, channel: str = "palmet") -> dict:
        text = ((out or self.out) / f"api/merth/ditches/{channel}/client_config_{channel}.php").read_text()
        return dict(line.split("=", 1) for line in text.splitlines())

    def package_file(self, config: dict, out: Path | None = None) -> Path:
        return (out or self.out) / config["ClientDownloadUrl"][len(self.base) + 1:]

    def serve(self, *extra: str):
        self.server = subprocess.Popen([CHANNEL, "serve", self.out, "--port", str(TEST_PORT), *extra],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        banner = self.server.stdout.readline()
        assert banner.startswith("serving "), (banner, self.server.stderr.read())

    def stop(self):
        if self.server and self.server.poll() is None:
            self.server.send_signal(signal.SIGTERM)
            assert self.server.wait(timeout=30) == 0

    def reports(self) -> list[str]:
        log = self.logs / "reports.log"
        return log.read_text().splitlines() if log.exists() else []

    def package_requests(self) -> list[dict]:
        """nginx's access log: request path, status, body bytes sent, Range, If-Range."""
        rows = []
        pattern = re.compile(r'"GET (\S+) HTTP/1\.1" (\d+) (\d+) "([^"]*)" "([^"]*)"')
        for line in (self.logs / "access.log").read_text().splitlines():
            m = pattern.search(line)
            if m and m.group(1).startswith("/packages/"):
                rows.append({"path": m.group(1), "status": int(m.group(2)), "sent": int(m.group(3)),
                             "range": m.group(4), "if_range": m.group(5).replace("\\x22", '"')})
        return rows


@pytest.fixture
def studio(tmp_path):
    channel = StudioChannel(tmp_path)
    yield channel
    channel.stop()


def run_to_completion(desktop, timeout_s: float = 60, screenshot: str = "") -> None:
    """Starts the launcher, waits for "更新已完成" and closes it with its close button."""
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成", timeout_s)
    if screenshot:
        desktop.screenshot(screenshot)
    close_launcher(desktop, proc)


def report_params(line: str) -> tuple[str, dict]:
    method, target, protocol = line.split(" ")
    assert (method, protocol) == ("GET", "HTTP/1.1"), line
    path, query = target.split("?", 1)
    return path, dict(urllib.parse.parse_qsl(query, keep_blank_values=True))


def test_fresh_install_from_nginx_with_non_ascii_names_and_reports(desktop, studio):
    tree = game_tree(1)
    studio.publish(tree, "1.0.0.1")
    studio.serve()
    run_to_completion(desktop, screenshot="installed-from-nginx")

    assert installed_tree(desktop) == expected(tree)
    assert desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").read_bytes() == b"1.0.0.1"
    assert not desktop.path(INSTALL_DIR + r"\qorn.zip").exists()

    wanted = {("info", "create"), ("info", "download_start"), ("info", "unzip_start"),
              ("error", "launcher start"), ("error", "game download success"), ("error", "game unzip success")}
    assert wait_for(lambda: wanted <= {(k, v) for k, v in map(report_kind, studio.reports())}, 30), studio.reports()
    for line in studio.reports():
        path, params = report_params(line)
        assert path in ("/api/laucher_info.php", "/api/laucher_error.php"), line
        assert list(params)[:4] == ["client_uid", "ditch_name", "mac", "os_version"], line
        assert UID.fullmatch(params["client_uid"]) and MAC.fullmatch(params["mac"]), line
        assert params["ditch_name"] == "palmet" and OS_DESCRIPTION.fullmatch(params["os_version"]), line
    download_url = studio.config()["ClientDownloadUrl"]
    assert ("error", "game download start, download url:" + download_url) in set(map(report_kind, studio.reports()))


def report_kind(line: str) -> tuple[str, str]:
    path, params = report_params(line)
    if path == "/api/laucher_info.php":
        return "info", params.get("ac", "")
    return "error", params.get("error_msg", "")


def test_version_1_then_2_updates_the_installed_client(desktop, studio):
    first = game_tree(1)
    studio.publish(first, "1.0.0.1")
    studio.serve()
    run_to_completion(desktop)
    assert installed_tree(desktop) == expected(first)

    second = game_tree(2)
    second["资料/新功能.txt"] = "第二版\n".encode()
    config = studio.publish(second, "1.0.0.2")  # into the folder nginx is serving
    run_to_completion(desktop)
    assert installed_tree(desktop) == expected(second)
    assert desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").read_bytes() == b"1.0.0.2"
    assert [r["path"] for r in studio.package_requests()] == [
        urllib.parse.urlsplit(c).path for c in (first_url(studio), config["ClientDownloadUrl"])]


def first_url(studio) -> str:
    [first] = [p for p in (studio.out / "packages" / "palmet").iterdir() if "_1.0.0.1_" in p.name]
    return f"{studio.base}/packages/palmet/{first.name}"


def kill_mid_download(desktop, studio, package_bytes: int) -> int:
    """Starts the launcher, kills it (with its Wine server) at about a third of the package and
    returns the bytes of the partial package it left."""
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: download_percent(desktop) >= 30, 120), status_text(desktop)
    desktop.prefix.kill()
    proc.wait(60)
    partial = desktop.path(INSTALL_DIR + r"\qorn.zip")
    assert partial.exists() and 0 < partial.stat().st_size < package_bytes
    return partial.stat().st_size


@pytest.mark.parametrize("republished", [False, True], ids=["same-package", "package-replaced"])
def test_killed_download_resumes_from_nginx_and_is_never_spliced(desktop, studio, republished):
    tree = game_tree(3, big_bytes=6 * 1024 * 1024)
    config = studio.publish(tree, "1.0.0.1")
    package = studio.package_file(config)
    studio.serve("--limit-rate", "1m")
    partial = kill_mid_download(desktop, studio, package.stat().st_size)

    if republished:
        # Another package of the same version at the same URL (as a careless upload would put
        # it): nginx's validator changes, and the document names the new digest.
        tree = game_tree(4, big_bytes=6 * 1024 * 1024)
        other = studio.publish(tree, "1.0.0.1", out=studio.root / "other")
        replacement = package.with_suffix(".new")
        shutil.copyfile(studio.package_file(other, studio.root / "other"), replacement)
        stat = package.stat()
        os.utime(replacement, (stat.st_atime, stat.st_mtime + 1000))
        os.replace(replacement, package)
        document = studio.out / "api/merth/ditches/palmet/client_config_palmet.php"
        document.write_text(document.read_text().replace(config["ClientPackageSha256"],
                                                         other["ClientPackageSha256"]))

    run_to_completion(desktop, timeout_s=180)
    assert installed_tree(desktop) == expected(tree)

    requests = studio.package_requests()
    first, *later = requests
    assert (first["status"], first["range"]) == (200, "-"), requests
    resume = later[0]
    assert resume["range"].startswith("bytes=") and int(resume["range"][6:-1]) <= partial, requests
    assert resume["if_range"] != "-", "a resume names the package it continues"
    size = package.stat().st_size
    if republished:
        # nginx answers the old validator with the whole new package (200, not a piece to
        # splice); the launcher ends up with that package whole in the same run.
        assert resume["status"] == 200, requests
        assert any(r["status"] == 200 and r["sent"] == size for r in later), requests
    else:
        assert resume["status"] == 206, requests
        # About one package in all: nothing already received is fetched again.
        assert size <= sum(r["sent"] for r in requests) <= size + 4 * 1024 * 1024, requests
