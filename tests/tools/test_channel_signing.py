"""A signed channel from the studio's side: scripts/channel keygen writes the key pair (the
secret owner-only, never over an existing key, removing nothing it did not write), publish
--sign-key signs the configuration document for its game and channel with a serial (and, when
asked, an expiry), checked here by OpenSSL (an Ed25519 implementation of its own) over the
signing context and the bytes before the signature line, and refuses a key it would pack or
serve; a signed channel's entry page must be https; and the launcher's build reads keygen's
public key files (cmake/ChannelKeys.cmake run as the build runs it) and never prints a secret
one."""
import stat
import subprocess
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
CHANNEL = REPO / "build" / "native" / "studio" / "channel"
CONFIG_PATH = "api/merth/ditches/palmet/client_config_palmet.php"
SIGNATURE_KEY = b"ClientConfigSignature="
# The DER prefix of an Ed25519 SubjectPublicKeyInfo (RFC 8410): the raw key follows it.
ED25519_SPKI_PREFIX = bytes.fromhex("302a300506032b6570032100")
# The DER prefix of an Ed25519 private key in PKCS #8 (RFC 8410): the 32-byte seed follows it.
ED25519_PKCS8_PREFIX = bytes.fromhex("302e020100300506032b657004220420")


def signing_context(game="qorn", channel="palmet") -> bytes:
    """What a signature covers before the document: the game and channel it was made for."""
    return f"game-launcher-channel-config/2\nGameCode={game}\nDitchCode={channel}\n".encode()


def secret_seed(key_file: Path) -> bytes:
    lines = [l for l in key_file.read_text().splitlines() if l.startswith("channel-secret-key=")]
    return bytes.fromhex(lines[0].split("=", 1)[1])


def run(*args, cwd=None):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120, cwd=cwd)


def keygen(prefix: Path):
    return run(CHANNEL, "keygen", "--out", prefix)


def publish(game: Path, out: Path, *extra):
    return run(CHANNEL, "publish", "--game", game, "--version", "1.0.0.1", "--base-url", "http://127.0.0.1:1/",
               "--out", out, *extra)


def openssl_verifies(public_hex: str, covered: bytes, signature: bytes, work: Path) -> bool:
    (work / "key.der").write_bytes(ED25519_SPKI_PREFIX + bytes.fromhex(public_hex))
    (work / "covered").write_bytes(covered)
    (work / "signature").write_bytes(signature)
    result = run("openssl", "pkeyutl", "-verify", "-pubin", "-inkey", work / "key.der", "-keyform", "DER", "-rawin",
                 "-in", work / "covered", "-sigfile", work / "signature")
    return result.returncode == 0


def split_signed(document: bytes):
    at = document.rindex(SIGNATURE_KEY)
    return document[:at], bytes.fromhex(document[at + len(SIGNATURE_KEY):].rstrip(b"\n").decode())


@pytest.fixture(scope="module")
def channel_tool():
    if not CHANNEL.exists():
        pytest.fail(f"{CHANNEL} is missing: build the native preset first")
    return CHANNEL


@pytest.fixture
def game(tmp_path):
    root = tmp_path / "game"
    (root / "data").mkdir(parents=True)
    (root / "qorn.exe").write_bytes(b"MZ game")
    (root / "data" / "level.bin").write_bytes(bytes(range(256)) * 8)
    return root


def test_keygen_writes_an_owner_only_secret_and_a_public_key(channel_tool, tmp_path):
    result = keygen(tmp_path / "studio")
    assert result.returncode == 0, result.stderr
    secret, public = tmp_path / "studio.key", tmp_path / "studio.pub"
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600
    lines = [l for l in secret.read_text().splitlines() if l and not l.startswith("#")]
    assert len(lines) == 1 and lines[0].startswith("channel-secret-key=") and len(lines[0]) == 19 + 64
    text = public.read_text()
    assert len(text) == 65 and text.endswith("\n")
    # The public key is the one of the secret seed, as OpenSSL derives it.
    (tmp_path / "secret.der").write_bytes(ED25519_PKCS8_PREFIX + secret_seed(secret))
    derived = subprocess.run(["openssl", "pkey", "-inform", "DER", "-in", tmp_path / "secret.der", "-pubout",
                              "-outform", "DER"], capture_output=True, timeout=60)
    assert derived.returncode == 0, derived.stderr
    assert derived.stdout == ED25519_SPKI_PREFIX + bytes.fromhex(text[:64])
    assert text[:64] in result.stdout
    # A second pair is another key.
    assert keygen(tmp_path / "next").returncode == 0
    assert (tmp_path / "next.pub").read_text() != text


@pytest.mark.parametrize("existing", ["studio.key", "studio.pub"])
@pytest.mark.parametrize("form", ["file", "dangling-link"])
def test_keygen_never_overwrites_a_key_nor_removes_what_it_did_not_write(channel_tool, tmp_path, existing, form):
    path = tmp_path / existing
    if form == "file":
        path.write_text("precious\n")
    else:
        path.symlink_to(tmp_path / "elsewhere" / "precious.key")
    result = keygen(tmp_path / "studio")
    assert result.returncode == 1
    assert "never overwritten" in result.stderr and "nothing was written" in result.stderr
    if form == "file":
        assert path.read_text() == "precious\n"
    else:
        assert path.is_symlink() and path.readlink() == tmp_path / "elsewhere" / "precious.key"
    assert sorted(p.name for p in tmp_path.iterdir()) == [existing]


def test_keygen_needs_its_prefix(channel_tool, tmp_path):
    assert run(CHANNEL, "keygen", cwd=tmp_path).returncode == 2
    assert list(tmp_path.iterdir()) == []


def serial_of(covered: bytes) -> int:
    lines = [l for l in covered.split(b"\n") if l.startswith(b"ClientConfigSerial=")]
    assert len(lines) == 1, covered
    return int(lines[0].split(b"=", 1)[1])


def test_a_signed_document_is_the_unsigned_one_plus_a_serial_and_a_signature_openssl_verifies(channel_tool, tmp_path,
                                                                                                game):
    assert keygen(tmp_path / "studio").returncode == 0
    public_hex = (tmp_path / "studio.pub").read_text().strip()
    assert publish(game, tmp_path / "plain").returncode == 0
    before = int(time.time())
    result = publish(game, tmp_path / "signed", "--sign-key", tmp_path / "studio.key")
    assert result.returncode == 0, result.stderr
    assert public_hex in result.stdout

    document = (tmp_path / "signed" / CONFIG_PATH).read_bytes()
    covered, signature = split_signed(document)
    serial = serial_of(covered)
    # A first document's serial is the publication time.
    assert before <= serial <= int(time.time())
    assert covered == (tmp_path / "plain" / CONFIG_PATH).read_bytes() + b"ClientConfigSerial=%d\n" % serial
    assert document.endswith(b"\n") and document.count(SIGNATURE_KEY) == 1
    package = next((tmp_path / "signed" / "packages" / "palmet").iterdir())
    assert b"\nClientPackageSize=%d\n" % package.stat().st_size in covered
    assert b"\nClientPackageSha256=" in covered
    assert openssl_verifies(public_hex, signing_context() + covered, signature, tmp_path)
    # The check is real: one changed byte, another key, or the document for another channel or
    # game (or with no context at all), and OpenSSL refuses too.
    assert not openssl_verifies(public_hex, signing_context() + covered.replace(b"1.0.0.1", b"1.0.0.2", 1), signature,
                                tmp_path)
    for context in (signing_context("qorn", "qa"), signing_context("vorn", "palmet"), b""):
        assert not openssl_verifies(public_hex, context + covered, signature, tmp_path)
    assert keygen(tmp_path / "other").returncode == 0
    assert not openssl_verifies((tmp_path / "other.pub").read_text().strip(), signing_context() + covered, signature,
                                tmp_path)


def test_each_signed_document_has_a_higher_serial_and_an_expiry_when_asked(channel_tool, tmp_path, game):
    assert keygen(tmp_path / "studio").returncode == 0
    out = tmp_path / "out"
    serials = []
    for _ in range(3):  # within one second, mostly: the serial still grows
        assert publish(game, out, "--sign-key", tmp_path / "studio.key").returncode == 0
        serials.append(serial_of(split_signed((out / CONFIG_PATH).read_bytes())[0]))
    assert serials[0] < serials[1] < serials[2]

    before = int(time.time())
    assert publish(game, out, "--sign-key", tmp_path / "studio.key", "--expires-in", "30").returncode == 0
    covered, _ = split_signed((out / CONFIG_PATH).read_bytes())
    assert serial_of(covered) > serials[2]
    expires = [int(l.split(b"=", 1)[1]) for l in covered.split(b"\n") if l.startswith(b"ClientConfigExpires=")]
    assert len(expires) == 1 and before + 30 * 86400 <= expires[0] <= int(time.time()) + 30 * 86400
    # Other channels sign for their own context.
    result = publish(game, tmp_path / "qa", "--sign-key", tmp_path / "studio.key", "--channel", "qa")
    assert result.returncode == 0, result.stderr
    qa_covered, qa_signature = split_signed(
        (tmp_path / "qa" / "api/merth/ditches/qa/client_config_qa.php").read_bytes())
    public_hex = (tmp_path / "studio.pub").read_text().strip()
    assert openssl_verifies(public_hex, signing_context("qorn", "qa") + qa_covered, qa_signature, tmp_path)
    assert not openssl_verifies(public_hex, signing_context() + qa_covered, qa_signature, tmp_path)


@pytest.mark.parametrize("extra, words", [
    (["--expires-in", "0"], "--expires-in \"0\""),
    (["--expires-in", "-1"], "--expires-in \"-1\""),
    (["--expires-in", "1.5"], "--expires-in \"1.5\""),
    (["--expires-in", "3651"], "--expires-in \"3651\""),
])
def test_publish_refuses_an_expiry_that_is_not_whole_days(channel_tool, tmp_path, game, extra, words):
    assert keygen(tmp_path / "studio").returncode == 0
    result = publish(game, tmp_path / "out", "--sign-key", tmp_path / "studio.key", *extra)
    assert result.returncode == 2 and words in result.stderr, result.stderr
    assert not (tmp_path / "out").exists()


def test_an_expiry_needs_a_signature(channel_tool, tmp_path, game):
    result = publish(game, tmp_path / "out", "--expires-in", "30")
    assert result.returncode == 2 and "--expires-in needs --sign-key" in result.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("entry, signed, published", [
    ("http://127.0.0.1:1/entry.html", True, False),
    ("HTTP://www.example.test/entry.html", True, False),
    ("https://www.example.test/entry.html", True, True),
    ("HTTPS://www.example.test/entry.html", True, True),
    ("http://127.0.0.1:1/entry.html", False, True),
])
def test_a_signed_channel_needs_an_https_entry_page(channel_tool, tmp_path, game, entry, signed, published):
    assert keygen(tmp_path / "studio").returncode == 0
    sign = ["--sign-key", tmp_path / "studio.key"] if signed else []
    result = publish(game, tmp_path / "out", "--entry-url", entry, *sign)
    if published:
        assert result.returncode == 0, result.stderr
        assert f"\nEntryUrl={entry}\n" in (tmp_path / "out" / CONFIG_PATH).read_text()
    else:
        assert result.returncode == 1
        assert "is not https://" in result.stderr and "nothing was published" in result.stderr
        assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("key_file", ["studio.pub", "missing.key"])
def test_publish_refuses_what_is_not_a_secret_key_and_writes_nothing(channel_tool, tmp_path, game, key_file):
    assert keygen(tmp_path / "studio").returncode == 0
    result = publish(game, tmp_path / "out", "--sign-key", tmp_path / key_file)
    assert result.returncode == 1
    assert "--sign-key" in result.stderr and "nothing was published" in result.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("place", ["game", "game-folder", "game-through-link", "out"])
def test_publish_refuses_a_signing_key_it_would_ship_or_serve(channel_tool, tmp_path, game, place):
    out = tmp_path / "out"
    if place == "out":
        assert publish(game, out).returncode == 0
        prefix = out / "studio"
    else:
        prefix = game / ("keys/studio" if place == "game-folder" else "studio")
        prefix.parent.mkdir(exist_ok=True)
    assert keygen(prefix).returncode == 0
    before = sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*"))
    key = prefix.with_suffix(".key")
    if place == "game-through-link":
        (tmp_path / "link").symlink_to(game)
        key = tmp_path / "link" / "studio.key"
    result = publish(game, out, "--sign-key", key)
    assert result.returncode == 1, result.stderr
    words = " ".join(result.stderr.split())
    where = "the served folder --out" if place == "out" else "the game folder --game"
    assert f"--sign-key {key} lies inside {where}" in words and "nothing was published" in words, words
    assert "channel-secret-key" not in result.stderr
    assert sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*") if p.parent != tmp_path or
                  p.name != "link") == before


def keys_header(keys_file, tmp_path):
    header = tmp_path / "channel_keys.h"
    result = run("cmake", f"-DKEYS_FILE={keys_file}", f"-DHEADER={header}",
                 f"-DTEMPLATE={REPO / 'app' / 'channel_keys.h.in'}", "-P", REPO / "cmake" / "ChannelKeys.cmake")
    return result, header


def test_the_build_reads_one_or_two_public_key_files_of_keygen(channel_tool, tmp_path):
    assert keygen(tmp_path / "current").returncode == 0
    assert keygen(tmp_path / "next").returncode == 0
    keys = [(tmp_path / n).read_text().strip() for n in ("current.pub", "next.pub")]
    both = tmp_path / "keys.pub"
    both.write_text("# current, then the next key\n" + (tmp_path / "current.pub").read_text() + "\n" +
                    (tmp_path / "next.pub").read_text())
    result, header = keys_header(both, tmp_path)
    assert result.returncode == 0, result.stderr
    text = header.read_text()
    initializers = ["{{" + "".join(f"0x{key[i:i + 2]}," for i in range(0, 64, 2)) + "}}" for key in keys]
    # Both, in the file's order: the launcher logs which of its keys verified a document.
    assert 0 <= text.index(initializers[0]) < text.index(initializers[1])

    result, header = keys_header(tmp_path / "current.pub", tmp_path)
    assert result.returncode == 0 and text.count("{{") == 2 and header.read_text().count("{{") == 1

    result, header = keys_header("", tmp_path)
    assert result.returncode == 0 and "{{" not in header.read_text()


@pytest.mark.parametrize("content, message", [
    ("", "holds 0 keys"),
    ("# the key\n\naa\n", "line 3 is not a public key (64 hex digits)"),
    ("{k}\n{k}\n{k}\n", "holds 3 keys"),
    ("{k}\nkey {s}\n", "line 2 is not a public key (64 hex digits)"),
    ("# Secret key\nchannel-secret-key={s}\n", "is a secret key file"),
])
def test_the_build_refuses_a_keys_file_that_is_not_one_or_two_public_keys(channel_tool, tmp_path, content, message):
    keys_file = tmp_path / "keys.pub"
    secret = "5ec7" * 16
    keys_file.write_text(content.format(k="ab" * 32, s=secret))
    result, header = keys_header(keys_file, tmp_path)
    assert result.returncode != 0
    # CMake wraps an error's text at a column, so where the lines break depends on the length of
    # the keys file's path: compare the words, not the lines.
    words = " ".join(result.stderr.split())
    assert message in words and str(keys_file) in words, result.stderr
    # The build log names the file and never shows what it holds: it may be a secret.
    assert secret not in "".join((result.stdout + result.stderr).split())
    assert not header.exists()


def test_the_build_never_prints_the_secret_of_keygens_key_file(channel_tool, tmp_path):
    assert keygen(tmp_path / "studio").returncode == 0
    secret_line = next(l for l in (tmp_path / "studio.key").read_text().splitlines() if not l.startswith("#"))
    result, header = keys_header(tmp_path / "studio.key", tmp_path)
    assert result.returncode != 0 and not header.exists()
    assert "is a secret key file" in " ".join(result.stderr.split())
    assert secret_line.split("=", 1)[1] not in "".join((result.stdout + result.stderr).split())
