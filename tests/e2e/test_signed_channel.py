"""A signed channel end to end: the e2e launcher built with two public keys (made by
scripts/channel keygen; the current and the next), a channel published and signed by
scripts/channel publish --sign-key and served by nginx. A signed channel installs; a document
changed after signing (another package, another entry page) is refused with 102 and nothing is
downloaded; a package replaced on the server is never unpacked; an unsigned document is refused
by the launcher with keys and taken by the one without. Signed with the next key (a studio
rotating), it installs too."""
import subprocess
import urllib.parse
from pathlib import Path

import pytest
from conftest import BUILD, INSTALL_DIR, LAUNCHER, read_log_bytes, wait_for
from test_install import close_launcher, wait_status
from test_nginx_channel import CHANNEL, expected, game_tree, installed_tree, report_kind, studio  # noqa: F401

SPLASH = "Vantorra"
KEYS = BUILD / "e2e-signing"  # where the build takes launcher_e2e_signed's keys from
SIGNED_LAUNCHER = BUILD / "e2e-signed-bin" / "Vantorra.exe"
DOCUMENT = "api/merth/ditches/palmet/client_config_palmet.php"


@pytest.fixture(scope="session")
def signed_launcher():
    """The e2e launcher with the keys of KEYS/channel_keys.pub, made once and kept, so a
    later run only checks that the launcher is up to date."""
    KEYS.mkdir(parents=True, exist_ok=True)
    for name in ("current", "next"):
        if not (KEYS / f"{name}.key").exists():
            result = subprocess.run([CHANNEL, "keygen", "--out", KEYS / name], capture_output=True, text=True)
            assert result.returncode == 0, result.stderr
    keys = (KEYS / "current.pub").read_text() + (KEYS / "next.pub").read_text()
    keys_file = KEYS / "channel_keys.pub"
    if not keys_file.exists() or keys_file.read_text() != keys:
        keys_file.write_text(keys)
    result = subprocess.run(["cmake", "--build", BUILD, "--target", "launcher_e2e_signed"],
                            capture_output=True, text=True, timeout=1800)
    assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-4000:]
    return SIGNED_LAUNCHER


def launcher_log(desktop) -> str:
    return read_log_bytes(desktop).decode("gbk", "replace")


def run_to_status(desktop, launcher: Path, status: str):
    proc = desktop.start(launcher)
    desktop.wait_window(SPLASH)
    wait_status(desktop, status, timeout_s=120)
    close_launcher(desktop, proc)


def expect_refused(desktop, studio, launcher: Path, reason: str):
    run_to_status(desktop, launcher, "更新失败,请检查网络:102")
    assert studio.package_requests() == []
    assert not desktop.path(INSTALL_DIR + r"\client\qorn").exists()
    assert "configuration refused: " + reason in launcher_log(desktop)
    report = ("error", "configuration refused: " + reason)
    assert wait_for(lambda: report in set(map(report_kind, studio.reports())), 30), studio.reports()


@pytest.mark.parametrize("key, number", [("current", 1), ("next", 2)], ids=["current-key", "next-key"])
def test_a_signed_channel_installs(desktop, studio, signed_launcher, key, number):
    tree = game_tree(number)
    studio.publish(tree, "1.0.0.1", "--sign-key", KEYS / f"{key}.key")
    studio.serve()
    run_to_status(desktop, signed_launcher, "更新已完成")
    assert installed_tree(desktop) == expected(tree)
    assert f"configuration signature verified with key {number} of 2" in launcher_log(desktop)
    assert "package digest verified" in launcher_log(desktop)


@pytest.mark.parametrize("change", ["package", "entry-page"])
def test_a_document_changed_after_signing_is_refused(desktop, studio, signed_launcher, change):
    config = studio.publish(game_tree(3), "1.0.0.1", "--sign-key", KEYS / "current.key",
                            "--entry-url", studio.base + "/entry.html")
    document = studio.out / DOCUMENT
    text = document.read_text()
    if change == "package":
        # A whole other release on the same server, its URL and digest put in place of the
        # published ones: a consistent document in every value, only not the one signed.
        other_out = studio.root / "other"
        other = studio.publish(game_tree(4), "1.0.0.1", out=other_out)
        other_package = studio.package_file(other, other_out)
        target = studio.package_file(config).with_name("qorn_evil.zip")
        target.write_bytes(other_package.read_bytes())
        evil_url = f"{studio.base}/packages/palmet/{target.name}"
        for key in ("ClientDownloadUrl", "Client32DownloadUrl"):
            text = text.replace(f"{key}={config[key]}\n", f"{key}={evil_url}\n")
        text = text.replace(config["ClientPackageSha256"], other["ClientPackageSha256"])
    else:
        text = text.replace(studio.base + "/entry.html", studio.base + "/evil.html")
    assert text != document.read_text()
    document.write_text(text)
    studio.serve()
    expect_refused(desktop, studio, signed_launcher, "configuration signature matches no key of this launcher")


def test_a_package_replaced_on_the_server_is_never_unpacked(desktop, studio, signed_launcher):
    config = studio.publish(game_tree(5), "1.0.0.1", "--sign-key", KEYS / "current.key")
    other_out = studio.root / "other"
    other = studio.publish(game_tree(6), "1.0.0.1", out=other_out)
    studio.package_file(config).write_bytes(studio.package_file(other, other_out).read_bytes())
    studio.serve()
    run_to_status(desktop, signed_launcher, "更新失败,请检查网络:103")
    assert [r["status"] for r in studio.package_requests()] == [200]
    assert not desktop.path(INSTALL_DIR + r"\client\qorn").exists()
    assert not desktop.path(INSTALL_DIR + r"\qorn.zip").exists()
    log = launcher_log(desktop)
    assert "package digest mismatch: expected " + config["ClientPackageSha256"] in log
    assert "unzip file:" not in log


@pytest.mark.parametrize("keyed", [True, False], ids=["launcher-with-keys", "launcher-without-keys"])
def test_an_unsigned_document(desktop, studio, signed_launcher, keyed):
    tree = game_tree(7)
    studio.publish(tree, "1.0.0.1")
    studio.serve()
    if keyed:
        expect_refused(desktop, studio, signed_launcher, "configuration is not signed")
    else:
        run_to_status(desktop, LAUNCHER, "更新已完成")
        assert installed_tree(desktop) == expected(tree)
        assert "configuration refused" not in launcher_log(desktop)
