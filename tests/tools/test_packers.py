"""Game packages as real packers write them, unpacked by the launcher's package walk
(build/native/tests/unit/unzip_probe, which reads unmarked names in code page 936 as a Chinese
Windows does). Every packer's archive must install the same tree under the same names:
UTF-8 names flagged by 7-Zip, bsdtar and Python, a name carried by an Info-ZIP Unicode Path
field, and code page 936 names without any marker, with and without folder entries."""
import os
import struct
import subprocess
import zipfile
import zlib
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
PROBE = REPO / "build" / "native" / "tests" / "unit" / "unzip_probe"

# Chinese, Japanese and accented names, in folders several levels deep.
TREE = {
    "资源/说明.txt": b"readme\n",
    "データ/café.txt": b"donn\xc3\xa9es\n",
    "深/层/文件.bin": bytes(range(256)) * 4,
    "qorn/qorn.exe": b"MZ stand-in",
}
# What packers on a Chinese Windows write: names code page 936 can hold.
GBK_TREE = {
    "资源/说明.txt": b"readme\n",
    "深/层/文件.bin": bytes(range(256)) * 4,
    "qorn/qorn.exe": b"MZ stand-in",
}
UTF8_LOCALE = dict(os.environ, LC_ALL="C.UTF-8")


def write_tree(root: Path, tree: dict, encoding: str = "utf-8") -> None:
    for name, data in tree.items():
        path = os.path.join(os.fsencode(root), name.encode(encoding))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def unpacked_tree(client: Path) -> dict:
    found = {}
    for path in client.rglob("*"):
        if path.is_file():
            found[path.relative_to(client).as_posix()] = path.read_bytes()
    return found


def unpack(package: Path, client: Path) -> dict:
    client.mkdir()
    result = subprocess.run([str(PROBE), str(package), str(client)], capture_output=True, timeout=60)
    assert result.returncode == 0, result.stderr.decode("utf-8", "replace")
    return unpacked_tree(client)


def stored_zip(path: Path, entries) -> None:
    """A zip of stored entries written byte by byte: (name bytes, data, flags, central extra)."""
    body, central = b"", b""
    for name, data, flags, extra in entries:
        crc = zlib.crc32(data)
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 0, 0, 0x21, crc, len(data), len(data),
                            len(name), 0)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, 0, 0, 0x21, crc, len(data),
                               len(data), len(name), len(extra), 0, 0, 0, 0, len(body)) + name + extra
        body += local + name + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(body), 0)
    path.write_bytes(body + central + end)


def unicode_path_field(header_name: bytes, utf8_name: bytes) -> bytes:
    data = b"\x01" + struct.pack("<I", zlib.crc32(header_name)) + utf8_name
    return struct.pack("<HH", 0x7075, len(data)) + data


@pytest.fixture(autouse=True)
def probe_built():
    if not PROBE.exists():
        pytest.fail(f"{PROBE} is missing: build the native preset first")


def test_python_zipfile_flags_utf8_and_stores_no_folders(tmp_path):
    package = tmp_path / "python.zip"
    with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in TREE.items():
            z.writestr(name, data)
    assert any(info.flag_bits & 0x800 for info in zipfile.ZipFile(package).infolist())
    assert unpack(package, tmp_path / "client") == TREE


def test_7zip_utf8_names(tmp_path):
    write_tree(tmp_path / "tree", TREE)
    package = tmp_path / "7z.zip"
    subprocess.run(["7z", "a", "-tzip", "-mcu=on", str(package), "."], cwd=tmp_path / "tree", env=UTF8_LOCALE,
                   check=True, capture_output=True)
    assert unpack(package, tmp_path / "client") == TREE


def test_bsdtar_utf8_names(tmp_path):
    write_tree(tmp_path / "tree", TREE)
    package = tmp_path / "bsdtar.zip"
    tops = sorted({name.split("/")[0] for name in TREE})
    subprocess.run(["bsdtar", "--format", "zip", "-cf", str(package), *tops], cwd=tmp_path / "tree",
                   env=UTF8_LOCALE, check=True, capture_output=True)
    assert unpack(package, tmp_path / "client") == TREE


def test_unicode_path_field_carries_the_name(tmp_path):
    package = tmp_path / "unicode-path.zip"
    entries = []
    for name, data in TREE.items():
        # The header holds some other (here: code page 437 style) rendering of the name.
        header = name.encode("utf-8").decode("latin-1").encode("cp437", "replace")
        entries.append((header, data, 0, unicode_path_field(header, name.encode("utf-8"))))
    stored_zip(package, entries)
    assert unpack(package, tmp_path / "client") == TREE


@pytest.mark.parametrize("folder_entries", [True, False], ids=["with-folder-entries", "no-folder-entries"])
def test_info_zip_over_gbk_names_in_the_c_locale(tmp_path, folder_entries):
    write_tree(tmp_path / "tree", GBK_TREE, encoding="gbk")
    package = tmp_path / "info-zip.zip"
    tops = sorted({name.split("/")[0].encode("gbk") for name in GBK_TREE})
    flags = ["-r", "-q"] + ([] if folder_entries else ["-D"])
    subprocess.run([b"zip", *[f.encode() for f in flags], os.fsencode(package), *tops], cwd=tmp_path / "tree",
                   env=dict(os.environ, LC_ALL="C"), check=True, capture_output=True)
    infos = zipfile.ZipFile(package).infolist()
    assert not any(info.flag_bits & 0x800 for info in infos)
    assert any(info.filename.endswith("/") for info in infos) == folder_entries
    assert unpack(package, tmp_path / "client") == GBK_TREE


def test_unmarked_utf8_names_are_read_as_code_page_936(tmp_path):
    # Info-ZIP zip in a UTF-8 locale writes UTF-8 bytes with no marker: the launcher cannot
    # tell them from code page 936 and does not guess (see the README).
    package = tmp_path / "unmarked.zip"
    stored_zip(package, [("说明.txt".encode("utf-8"), b"x", 0, b"")])
    as_gbk = "说明.txt".encode("utf-8").decode("gbk")
    assert as_gbk != "说明.txt"
    assert unpack(package, tmp_path / "client") == {as_gbk: b"x"}
