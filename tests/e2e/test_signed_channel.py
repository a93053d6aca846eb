"""A signed channel end to end: the e2e launcher built with two public keys (made by
scripts/channel keygen; the current and the next), a channel published and signed by
scripts/channel publish --sign-key and served by nginx. A signed channel installs; a document
changed after signing (another package, another entry page) is refused with 102 and nothing is
downloaded; a package replaced on the server is never unpacked; an unsigned document is refused
by the launcher with keys and taken by the one without. Signed with the next key (a studio
rotating), it installs too.

Documents the studio really signed, only not for this launcher, are refused the same way:
another channel's and another game's, an older one replayed after a newer was installed, an
expired one, one with an http entry page; and a package longer than its signed size is
stopped and deleted. The expired and http-entry documents are signed here with OpenSSL and the
studio's key (publish itself refuses to write them), over the same signing context."""
import re
import shutil
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


NO_KEY = "configuration signature matches no key of this launcher for game qorn, channel palmet"
SIGNATURE_KEY = b"ClientConfigSignature="
# The DER prefix of an Ed25519 private key in PKCS #8 (RFC 8410): the 32-byte seed follows it.
ED25519_PKCS8_PREFIX = bytes.fromhex("302e020100300506032b657004220420")


def refused_reported(studio, reason: str) -> bool:
    return any(kind == "error" and message.startswith("configuration refused: " + reason)
               for kind, message in map(report_kind, studio.reports()))


def expect_refused(desktop, studio, launcher: Path, reason: str, package_requests: int = 0):
    """102, no package fetched, the reason (its start) logged and reported; with
    package_requests, those an earlier run of the test made."""
    run_to_status(desktop, launcher, "更新失败,请检查网络:102")
    assert len(studio.package_requests()) == package_requests
    assert "configuration refused: " + reason in launcher_log(desktop)
    assert wait_for(lambda: refused_reported(studio, reason), 30), studio.reports()


def expect_nothing_installed(desktop):
    assert not desktop.path(INSTALL_DIR + r"\client\qorn").exists()
    assert not desktop.path(INSTALL_DIR + r"\qorn.zip").exists()


def serve_refused(desktop, studio, launcher: Path, document: bytes, reason: str):
    """The channel serving document in place of the one published: refused, nothing installed."""
    path = studio.out / DOCUMENT
    assert path.exists() and document != path.read_bytes()
    path.write_bytes(document)
    studio.serve()
    expect_refused(desktop, studio, launcher, reason)
    expect_nothing_installed(desktop)


def signing_context(game: str = "qorn", channel: str = "palmet") -> bytes:
    return f"game-launcher-channel-config/2\nGameCode={game}\nDitchCode={channel}\n".encode()


def resigned(document: bytes, key_file: Path, work: Path, change) -> bytes:
    """The document with change applied to its covered bytes, signed again with the studio's
    key for this launcher's game and channel: a document the studio could have signed."""
    covered = change(document[:document.rindex(SIGNATURE_KEY)])
    seed = next(line.split("=", 1)[1] for line in key_file.read_text().splitlines()
                if line.startswith("channel-secret-key="))
    (work / "secret.der").write_bytes(ED25519_PKCS8_PREFIX + bytes.fromhex(seed))
    (work / "message").write_bytes(signing_context() + covered)
    subprocess.run(["openssl", "pkeyutl", "-sign", "-inkey", work / "secret.der", "-keyform", "DER", "-rawin",
                    "-in", work / "message", "-out", work / "signature"], check=True, capture_output=True)
    return covered + SIGNATURE_KEY + (work / "signature").read_bytes().hex().encode() + b"\n"


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
                            "--entry-url", "https://www.example.test/entry.html")
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
        text = text.replace("https://www.example.test/entry.html", "https://www.example.test/evil.html")
    serve_refused(desktop, studio, signed_launcher, text.encode(), NO_KEY)


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
        expect_nothing_installed(desktop)
    else:
        run_to_status(desktop, LAUNCHER, "更新已完成")
        assert installed_tree(desktop) == expected(tree)
        assert "configuration refused" not in launcher_log(desktop)


@pytest.mark.parametrize("other", ["channel", "game"])
def test_another_channels_or_games_signed_document_is_refused(desktop, studio, signed_launcher, other):
    """Signed with the same key, its package real and its digest genuine: only the signing
    context tells it from this channel's own."""
    # This channel's own document is in place first, so the other one is served instead of it.
    studio.publish(game_tree(8), "1.0.0.1", "--sign-key", KEYS / "current.key")
    tree = game_tree(9)
    if other == "channel":
        studio.publish(tree, "1.0.0.1", "--sign-key", KEYS / "current.key", "--channel", "qa")
        document = (studio.out / "api/merth/ditches/qa/client_config_qa.php").read_bytes()
    else:
        tree["vorn.exe"] = tree.pop("qorn.exe")
        other_out = studio.root / "vorn"
        studio.publish(tree, "1.0.0.1", "--sign-key", KEYS / "current.key", "--code", "vorn", out=other_out)
        document = (other_out / DOCUMENT).read_bytes()
        shutil.copytree(other_out / "packages", studio.out / "packages", dirs_exist_ok=True)
    assert b"ClientConfigSignature=" in document
    serve_refused(desktop, studio, signed_launcher, document, NO_KEY)


def test_an_older_signed_document_replayed_is_refused(desktop, studio, signed_launcher):
    """Version 1 is published, then version 2 (a higher serial), which installs; version 1's
    document served again is refused, and version 2 stays."""
    studio.publish(game_tree(10), "1.0.0.1", "--sign-key", KEYS / "current.key")
    old = (studio.out / DOCUMENT).read_bytes()
    tree = game_tree(11)
    new_config = studio.publish(tree, "1.0.0.2", "--sign-key", KEYS / "current.key")
    old_serial = int(old.split(b"ClientConfigSerial=")[1].split(b"\n")[0])
    assert int(new_config["ClientConfigSerial"]) > old_serial
    studio.serve()
    run_to_status(desktop, signed_launcher, "更新已完成")
    assert installed_tree(desktop) == expected(tree)

    (studio.out / DOCUMENT).write_bytes(old)
    expect_refused(desktop, studio, signed_launcher,
                   f"signed configuration has serial {old_serial}, older than serial "
                   f"{new_config['ClientConfigSerial']} accepted before", package_requests=1)
    assert installed_tree(desktop) == expected(tree)
    assert desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").read_text() == "1.0.0.2"


@pytest.mark.parametrize("case", ["expired", "http-entry-page"])
def test_a_signed_document_the_launcher_must_not_use_is_refused(desktop, studio, signed_launcher, tmp_path, case):
    if case == "expired":
        studio.publish(game_tree(12), "1.0.0.1", "--sign-key", KEYS / "current.key", "--expires-in", "30")
        change = lambda covered: re.sub(rb"ClientConfigExpires=\d+", b"ClientConfigExpires=1000000000", covered)
        reason = "signed configuration expired at 1000000000 (Unix time); the clock says "
    else:
        studio.publish(game_tree(13), "1.0.0.1", "--sign-key", KEYS / "current.key",
                       "--entry-url", "https://www.example.test/entry.html")
        change = lambda covered: covered.replace(b"EntryUrl=https://", b"EntryUrl=http://")
        reason = "signed configuration's EntryUrl is not https: http://www.example.test/entry.html"
    document = resigned((studio.out / DOCUMENT).read_bytes(), KEYS / "current.key", tmp_path, change)
    serve_refused(desktop, studio, signed_launcher, document, reason)


def test_a_package_longer_than_its_signed_size_is_stopped_and_deleted(desktop, studio, signed_launcher):
    config = studio.publish(game_tree(14), "1.0.0.1", "--sign-key", KEYS / "current.key")
    package = studio.package_file(config)
    with package.open("ab") as f:
        f.write(bytes(4 << 20))  # nginx now serves 4 MiB more than the document signs
    studio.serve()
    run_to_status(desktop, signed_launcher, "更新失败,请检查网络:103")
    expect_nothing_installed(desktop)
    log = launcher_log(desktop)
    assert f"the answer goes on past the package's signed size of {config['ClientPackageSize']} bytes" in log
    assert "the package host sent more than the package's signed size" in log
    assert "unzip file:" not in log
