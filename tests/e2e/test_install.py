"""The update pipeline of the real launcher: first install from the channel server, a client
that is already current, a server that is down, a broken package, and a download resumed
after the launcher was killed."""
import io
import subprocess
import urllib.request
import zipfile

import pytest
from conftest import INSTALL_DIR, LAUNCHER, STANDIN_GAME, VARIANT, read_log_bytes, wait_for
from desktop import shown_texts

SPLASH = "Vantorra"
CLOSE_BUTTON = 101
# The two package URL keys lead to different paths and only the one this variant must pick is
# served: the x86_64 build always runs on 64-bit Windows ("ClientDownloadUrl"), the i686 build
# runs in a 32-bit prefix ("Client32DownloadUrl").
PACKAGE_PATH = {"win64": "/packages/palmet/x64/qorn_1.0.3.7.zip",
                "win32": "/packages/palmet/x86/qorn_1.0.3.7.zip"}[VARIANT]


def make_package(extra_bytes: int = 0) -> bytes:
    """The game package: the stand-in game as client\\qorn\\qorn.exe, a folder of data, and
    optionally a large incompressible file so a transfer takes a while."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("qorn/", b"")
        z.write(STANDIN_GAME, "qorn/qorn.exe")
        z.writestr("qorn/data/", b"")
        z.writestr("qorn/data/readme.txt", "Vantorra data\n")
        if extra_bytes:
            import random
            rnd = random.Random(5)
            z.writestr(zipfile.ZipInfo("qorn/data/big.bin"), bytes(rnd.getrandbits(8) for _ in range(extra_bytes)),
                       compress_type=zipfile.ZIP_STORED)
    return buf.getvalue()


def configure(channel, package: bytes, mini="1.0.0.0", version="1.0.3.7", package_host=None, entry_url=None):
    """The channel's configuration and package; package_host and entry_url replace this
    server's address in the package URLs and its entry page's address."""
    channel.add_package(PACKAGE_PATH, package)
    host = package_host or channel.base_url
    channel.set_config({
        "ClientVersion": version,
        "ClientMiniUpdateVersion": mini,
        "ClientDownloadUrl": host + "/packages/{ditch_name}/x64/qorn_{version}.zip",
        "Client32DownloadUrl": host + "/packages/{ditch_name}/x86/qorn_{version}.zip",
        "EntryUrl": entry_url or channel.url(channel.entry_path),
        "CustomParameters": "region=cn",
    })


def package_etag(channel) -> str:
    with urllib.request.urlopen(channel.url(PACKAGE_PATH), timeout=30) as answer:
        return answer.headers["ETag"]


def status_text(desktop) -> str:
    """The progress area of the main launcher window, which the splash window owns."""
    return shown_texts(desktop.owned_windows(SPLASH))


def wait_status(desktop, text, timeout_s=60):
    assert wait_for(lambda: status_text(desktop) == text, timeout_s), f"status {status_text(desktop)!r}"


def reg_query(desktop, key) -> str:
    result = desktop.prefix.run_capture("reg", ["query", key])
    return result.stdout.decode("utf-8", "replace")


def close_launcher(desktop, proc):
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0


def test_first_install(desktop, channel):
    package = make_package()
    configure(channel, package)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    desktop.screenshot("installed")
    close_launcher(desktop, proc)

    assert desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").read_bytes() == STANDIN_GAME.read_bytes()
    assert desktop.path(INSTALL_DIR + r"\client\qorn\data\readme.txt").read_text() == "Vantorra data\n"
    assert not desktop.path(INSTALL_DIR + r"\qorn.zip").exists()
    assert desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").read_bytes() == b"1.0.3.7"
    assert desktop.path(INSTALL_DIR + r"\qorn.exe").read_bytes() == LAUNCHER.read_bytes()
    assert desktop.path(INSTALL_DIR + r"\qorn-uninstall.lnk").exists()
    uninstall = reg_query(desktop, r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\qorn")
    assert r"C:\qorn-palmet\qorn.exe /uninstall" in uninstall
    assert [r["range"] for r in channel.requests_for(PACKAGE_PATH)] == [None]
    # The fourth line of the record names the package the download began with (its ETag).
    record = desktop.path(INSTALL_DIR + r"\tempdownload.dat").read_bytes()
    assert record == (f"downloadVersion=1.0.3.7\noffset={len(package)}\ntotalSize={len(package)}\n"
                      f"validator={package_etag(channel)}\n").encode()


def test_current_client_needs_no_download(desktop, channel):
    configure(channel, make_package())
    client = desktop.path(INSTALL_DIR + r"\client")
    client.mkdir(parents=True)
    (client / "game_client_version.txt").write_bytes(b"1.0.2.0")  # at least the mini-update version
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    close_launcher(desktop, proc)
    assert channel.requests_for(PACKAGE_PATH) == []
    assert desktop.path(INSTALL_DIR + r"\qorn.exe").exists()  # the launcher copied itself


def test_configuration_server_down_shows_102(desktop, channel):
    channel.set_fault(channel.config_path, status=503)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新失败,请检查网络:102")
    desktop.screenshot("config-down")
    close_launcher(desktop, proc)


def test_broken_package_shows_103_and_keeps_the_package(desktop, channel):
    configure(channel, b"this is not a zip archive" * 100)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新失败,请检查网络:103")
    close_launcher(desktop, proc)
    assert desktop.path(INSTALL_DIR + r"\qorn.zip").exists()
    assert not desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").exists()


def download_percent(desktop) -> int:
    text = status_text(desktop)
    return int(text[len("正在下载："):-1]) if text.startswith("正在下载：") and text.endswith("%") else -1


@pytest.mark.parametrize("close_at", [10, 45, 80])
def test_download_resumes_after_the_launcher_was_closed(desktop, channel, close_at):
    package = make_package(extra_bytes=3 * 1024 * 1024)
    configure(channel, package)
    # Slow enough that the player can close the launcher in the middle of the transfer.
    channel.set_fault(PACKAGE_PATH, trickle_bytes=128 * 1024, trickle_interval=0.25, times=1)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: download_percent(desktop) >= close_at, 90), status_text(desktop)
    desktop.screenshot("downloading")
    close_launcher(desktop, proc)
    record = desktop.path(INSTALL_DIR + r"\tempdownload.dat").read_text()
    offset = int(record.split("offset=")[1].split("\n")[0])
    assert 0 < offset < len(package), record

    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    close_launcher(desktop, proc)
    requests = channel.requests_for(PACKAGE_PATH)
    assert [r["range"] for r in requests] == [None, f"bytes={offset}-"]
    assert desktop.path(INSTALL_DIR + r"\client\qorn\data\big.bin").read_bytes() == package_entry(package, "qorn/data/big.bin")
    assert desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").read_bytes() == STANDIN_GAME.read_bytes()
    # About one package in all: what the first start had received is not fetched again.
    sent = sum(r["bytes_sent"] or 0 for r in requests)
    assert len(package) <= sent <= len(package) + 512 * 1024, (sent, len(package))


def package_entry(package: bytes, name: str) -> bytes:
    with zipfile.ZipFile(io.BytesIO(package)) as z:
        return z.read(name)


@pytest.mark.parametrize("fault", [
    {"status": 503},
    {"drop_after": 2000},
    "host down",
])
def test_package_host_down_or_faulty_fails_with_104_then_103(desktop, channel, fault):
    if fault == "host down":
        # Nothing listens on port 9 of this machine's loopback.
        configure(channel, make_package(), package_host="http://127.0.0.1:9")
    else:
        configure(channel, make_package())
        channel.set_fault(PACKAGE_PATH, **fault)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新失败,请检查网络:103")
    close_launcher(desktop, proc)
    log = read_log_bytes(desktop)
    assert log.index(b"download is error!") < log.index(b"download error")
    errors = [dict(r["params"]).get("error_msg") for r in channel.reports if r["kind"] == "error"]
    assert "game download failed" in errors
    assert not desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").exists()


def test_corrupt_package_fails_to_unpack_then_shows_103(desktop, channel):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        z.writestr("qorn/", b"")
        z.write(STANDIN_GAME, "qorn/qorn.exe")
    package = bytearray(buf.getvalue())
    # One byte of the stand-in game flipped: the archive reads, its check value fails.
    package[package.index(STANDIN_GAME.read_bytes()[:64]) + 1000] ^= 0xFF
    configure(channel, bytes(package))
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新失败,请检查网络:103")
    close_launcher(desktop, proc)
    log = read_log_bytes(desktop)
    assert b"qorn/qorn.exe" in log and log.index(b"download is finish") < log.index(b"download error")
    assert not desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").exists()


def test_launcher_started_from_its_installed_copy_makes_no_shortcuts(desktop, channel):
    configure(channel, make_package())
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    close_launcher(desktop, proc)
    link = desktop.path(INSTALL_DIR + r"\qorn-uninstall.lnk")
    link.unlink()

    proc = desktop.start(INSTALL_DIR + r"\qorn.exe")
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")  # the copy onto itself fails, silently
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0
    assert not link.exists()
    assert desktop.path(INSTALL_DIR + r"\qorn.exe").read_bytes() == LAUNCHER.read_bytes()


def test_file_parameter_of_the_executable_name_names_the_copy_and_leads_the_query(desktop, channel):
    configure(channel, make_package())
    named = desktop.path(r"C:\Downloads\Vantorra_X7.exe")
    named.parent.mkdir(parents=True)
    named.write_bytes(LAUNCHER.read_bytes())
    proc = desktop.start(r"C:\Downloads\Vantorra_X7.exe", "--token=t1")
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0
    assert desktop.path(INSTALL_DIR + r"\qorn_X7.exe").read_bytes() == LAUNCHER.read_bytes()
    assert not desktop.path(INSTALL_DIR + r"\qorn.exe").exists()
    uninstall = reg_query(desktop, r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\qorn")
    assert r"C:\qorn-palmet\qorn_X7.exe /uninstall" in uninstall
    [entry] = channel.requests_for(channel.entry_path)
    assert entry["query"] == "fileparam=X7&token=t1"


def test_host_ignoring_range_fails_one_start_and_completes_the_next(desktop, channel):
    package = make_package()
    configure(channel, package)
    channel.set_fault(PACKAGE_PATH, ignore_range=True)  # for good: the host never answers a range
    install = desktop.path(INSTALL_DIR)
    install.mkdir(parents=True)
    (install / "qorn.zip").write_bytes(package[:600])
    (install / "tempdownload.dat").write_bytes(
        f"downloadVersion=1.0.3.7\noffset=600\ntotalSize={len(package)}\n".encode())

    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新失败,请检查网络:103")
    close_launcher(desktop, proc)

    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    close_launcher(desktop, proc)
    assert [r["range"] for r in channel.requests_for(PACKAGE_PATH)] == ["bytes=600-", None]
    assert desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").read_bytes() == STANDIN_GAME.read_bytes()
