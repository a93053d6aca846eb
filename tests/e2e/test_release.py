"""The program a studio ships: stripped with its symbols in a debug file that belongs to it, a
version resource that names the build, an Authenticode signature that verifies against the
studio's certificate and still starts under Wine, and a crash dump read back against the debug
file with scripts/read-dump.py."""
import http.server
import shutil
import subprocess
import sys
import threading
import zlib
from pathlib import Path

import pytest

from conftest import ACCESS_VIOLATION_EXIT, INSTALL_DIR, LAUNCHER, REPO, _cache_value, place_program, wait_for
from pe_file import Minidump, PeFile
from test_install import configure, make_package, wait_status

GAME_NAME = _cache_value("LAUNCHER_GAME_NAME", "Vantorra")
VERSION = _cache_value("LAUNCHER_VERSION", "0.0.0.1")
# The release is always the 32-bit build; the end-to-end launcher is the variant under test.
RELEASE = REPO / "build" / "win32" / "bin" / f"{GAME_NAME}.exe"
# The release program of the variant under test: another build for the same processor as LAUNCHER.
VARIANT_RELEASE = LAUNCHER.parent.parent / "bin" / f"{GAME_NAME}.exe"
SPLASH = GAME_NAME
CLOSE_BUTTON = 101
PASSWORD = "throwaway-pass"


def require(program: Path) -> Path:
    if not program.exists():
        pytest.fail(f"{program} is missing: build its preset first")
    return program


def make_certificate(folder: Path, name: str) -> tuple[Path, Path, Path]:
    """A throwaway self-signed code-signing certificate: (certificate, PKCS#12, password file)."""
    folder.mkdir(parents=True, exist_ok=True)
    key, cert, pfx, password = (folder / f"{name}{ext}" for ext in (".key", ".pem", ".pfx", ".pass"))
    password.write_text(PASSWORD + "\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", f"/CN={name}", "-keyout", str(key), "-out", str(cert),
                    "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(cert), "-out", str(pfx),
                    "-passout", f"file:{password}"], check=True, capture_output=True)
    return cert, pfx, password


def sign(program: Path, pfx: Path, password: Path, timestamp_url: str = "",
         wrapper: tuple[str, ...] = ()) -> subprocess.CompletedProcess:
    """The build's signing step (what `make build SIGN_PFX=... SIGN_PASSWORD_FILE=...` runs)."""
    return subprocess.run([*wrapper, "cmake", f"-DPROGRAM={program}", f"-DPFX={pfx}", f"-DPASSWORD_FILE={password}",
                           f"-DTIMESTAMP_URL={timestamp_url}", f"-DDESCRIPTION={GAME_NAME}",
                           "-P", str(REPO / "cmake" / "SignProgram.cmake")],
                          capture_output=True, text=True)


def verify(program: Path, cert: Path) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(program)],
                          capture_output=True, text=True)


@pytest.mark.parametrize("program", [RELEASE, LAUNCHER], ids=["release", "e2e"])
def test_program_is_stripped_and_its_debug_file_is_its_own(program):
    pe = PeFile.read(require(program))
    assert pe.debug_sections() == []
    assert pe.symbol_count == 0, "the COFF symbol table is still in the program"

    link = pe.debug_link()
    assert link is not None, "no debug link"
    name, crc = link
    assert name == f"{GAME_NAME}.debug"
    debug = program.with_name(name)
    assert zlib.crc32(debug.read_bytes()) == crc

    debug_pe = PeFile.read(debug)
    assert {".debug_info", ".debug_line"} <= set(debug_pe.debug_sections())
    assert pe.build_id() is not None
    assert debug_pe.build_id() == pe.build_id()


def test_each_link_has_its_own_build_id():
    assert PeFile.read(require(RELEASE)).build_id() != PeFile.read(require(LAUNCHER)).build_id()


def test_version_resource_names_the_build():
    info = PeFile.read(require(RELEASE)).version_info()
    assert info is not None
    numbers = tuple(int(part) for part in VERSION.split("."))
    assert info.file_version == info.product_version == numbers + (0,) * (4 - len(numbers))
    assert info.strings["FileVersion"] == VERSION
    assert info.strings["ProductVersion"] == VERSION
    assert info.strings["ProductName"] == GAME_NAME
    assert info.strings["FileDescription"] == GAME_NAME
    assert info.strings["OriginalFilename"] == RELEASE.name


def test_signed_release_verifies_against_the_studio_certificate_only(tmp_path):
    cert, pfx, password = make_certificate(tmp_path / "studio", "Test Studio")
    other_cert, _, _ = make_certificate(tmp_path / "other", "Someone Else")
    program = tmp_path / RELEASE.name
    shutil.copy2(require(RELEASE), program)
    assert verify(program, cert).returncode != 0, "an unsigned program verified"

    result = sign(program, pfx, password)
    assert result.returncode == 0, result.stdout + result.stderr
    verified = verify(program, cert)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    assert "Signature verification: ok" in verified.stdout
    assert f"Text description: {GAME_NAME}" in verified.stdout
    assert verify(program, other_cert).returncode != 0, "verified against a certificate that did not sign"

    # The signature is appended: the build id, the debug link and the version resource stay.
    signed, original = PeFile.read(program), PeFile.read(RELEASE)
    assert signed.build_id() == original.build_id()
    assert signed.debug_link() == original.debug_link()
    assert signed.version_info() == original.version_info()


def test_failed_signing_leaves_the_program_as_it_was(tmp_path):
    _, pfx, _ = make_certificate(tmp_path / "studio", "Test Studio")
    wrong = tmp_path / "wrong.pass"
    wrong.write_text("not-the-password\n")
    program = tmp_path / RELEASE.name
    shutil.copy2(require(RELEASE), program)

    result = sign(program, pfx, wrong)
    assert result.returncode != 0
    assert "signing" in result.stderr and "failed" in result.stderr, result.stderr
    assert program.read_bytes() == RELEASE.read_bytes()
    assert not program.with_name(program.name + ".signing").exists()


@pytest.mark.parametrize("text", [f"{PASSWORD}\nnote: the studio's 2025 key\n", f"{PASSWORD}\r\nsecond;line\r\n",
                                  PASSWORD],
                         ids=["note below", "CR LF and a second line", "no line end"])
def test_the_password_is_the_first_line_of_its_file(tmp_path, text):
    cert, pfx, _ = make_certificate(tmp_path / "studio", "Test Studio")
    password = tmp_path / "lines.pass"
    password.write_bytes(text.encode())
    folder = tmp_path / "program"
    folder.mkdir()
    program = folder / VARIANT_RELEASE.name
    shutil.copy2(require(VARIANT_RELEASE), program)

    result = sign(program, pfx, password)
    assert result.returncode == 0, result.stdout + result.stderr
    verified = verify(program, cert)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    # The copy of the first line is gone again.
    assert [p.name for p in folder.iterdir()] == [program.name]


class RecordingTimestampServer:
    """A loopback HTTP server that records what it is asked and answers every request 503."""

    def __init__(self):
        requests = self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                requests.append((self.path, self.headers.get("Content-Type")))
                self.send_error(503)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/tsa"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def test_timestamp_server_is_asked_only_when_given(tmp_path):
    cert, pfx, password = make_certificate(tmp_path / "studio", "Test Studio")
    program = tmp_path / RELEASE.name
    shutil.copy2(require(RELEASE), program)

    # Without a timestamp server the signing needs no network at all.
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0:
        result = sign(program, pfx, password, wrapper=("unshare", "-n"))
        assert result.returncode == 0, result.stdout + result.stderr
        assert verify(program, cert).returncode == 0

    # With one, the signature asks it for an RFC 3161 timestamp; its refusal fails the signing.
    shutil.copy2(RELEASE, program)
    server = RecordingTimestampServer()
    try:
        result = sign(program, pfx, password, timestamp_url=server.url)
    finally:
        server.stop()
    assert server.requests == [("/tsa", "application/timestamp-query")]
    assert result.returncode != 0
    assert program.read_bytes() == RELEASE.read_bytes()


def test_signed_launcher_still_starts_under_wine_and_installs_a_signed_copy(desktop, channel, tmp_path):
    # The launcher with the loopback profile, signed as the release is: the release itself would
    # look up its studio's server names, and tests reach nothing beyond loopback.
    cert, pfx, password = make_certificate(tmp_path / "studio", "Test Studio")
    signed = tmp_path / LAUNCHER.name
    shutil.copy2(LAUNCHER, signed)
    assert sign(signed, pfx, password).returncode == 0
    configure(channel, make_package())

    place_program(desktop, signed, rf"C:\users\Public\Downloads\{signed.name}")
    proc = desktop.start(rf"C:\users\Public\Downloads\{signed.name}")
    desktop.wait_window(SPLASH)
    wait_status(desktop, "更新已完成")
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0

    # The copy the uninstall entry and the shortcuts run is the signed program itself.
    installed = desktop.path(rf"{INSTALL_DIR}\qorn.exe")
    assert installed.read_bytes() == signed.read_bytes()
    assert verify(installed, cert).returncode == 0


def read_dump(dump: Path, program: Path, prefix: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(REPO / "scripts" / "read-dump.py"), str(dump),
                           "--program", str(program), "--prefix", str(prefix)],
                          capture_output=True, text=True, timeout=600)


def test_crash_dump_reads_back_against_the_debug_file(desktop, wine_session, tmp_path):
    crash_now = desktop.path(r"C:\crash-now")
    proc = desktop.start(LAUNCHER, env={"LAUNCHER_E2E_CRASH_FILE": r"C:\crash-now"})
    desktop.wait_window(SPLASH)
    crash_now.touch()
    assert desktop.wait_exit(proc) == ACCESS_VIOLATION_EXIT
    dumps = wait_for(lambda: sorted(desktop.path(INSTALL_DIR).glob(f"{GAME_NAME}_*.dmp")))
    assert dumps, "the crash left no dump"
    dump = tmp_path / dumps[0].name
    shutil.copy2(dumps[0], dump)
    assert any(m.path.endswith(LAUNCHER.name) for m in Minidump.read(dump).modules())

    reader = wine_session.new_prefix("read-dump")
    try:
        result = read_dump(dump, LAUNCHER, reader.path)
        assert result.returncode == 0, result.stdout + result.stderr
        backtrace = result.stdout.split("Backtrace:", 1)[-1]
        # The faulting frame, by function and source line, read from the debug file alone.
        assert "CrashWhenAsked" in backtrace, result.stdout
        assert "e2e_hooks.cpp:" in backtrace, result.stdout
        # winedbg names the module in lower case.
        module_line = [l for l in result.stdout.splitlines() if l.startswith("PE") and l.endswith(" " + LAUNCHER.stem.lower())]
        assert module_line and "Dwarf-4" in module_line[0], result.stdout

        # A program of another build, or a debug file of another build, is refused rather than
        # read with the wrong symbols.
        wrong = read_dump(dump, require(VARIANT_RELEASE), reader.path)
        assert wrong.returncode == 2
        assert "no module of this build" in wrong.stderr
        mixed = tmp_path / "mixed" / LAUNCHER.name
        mixed.parent.mkdir()
        shutil.copy2(LAUNCHER, mixed)
        shutil.copy2(VARIANT_RELEASE.with_suffix(".debug"), mixed.with_suffix(".debug"))
        wrong = read_dump(dump, mixed, reader.path)
        assert wrong.returncode == 2
        assert "is not the debug file" in wrong.stderr
    finally:
        reader.remove()
