#!/usr/bin/env python3
"""Writes the archive walk's seed packages into fuzz/corpus/archive_walk: small zips in the
shapes packers make, and one whose entry would leave the client folder. The files are
committed; run this again only to change them (fixed timestamps keep the bytes the same)."""
import pathlib
import struct
import zipfile
import zlib

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "archive_walk"
STAMP = (2024, 1, 2, 3, 4, 6)


def entry(name, flag_bits=0, extra=b""):
    info = zipfile.ZipInfo(name, STAMP)
    info.flag_bits |= flag_bits
    info.extra = extra
    return info


def write(file_name, entries, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(OUT / file_name, "w", compression=method) as archive:
        for info, data in entries:
            info.compress_type = method
            archive.writestr(info, data)


def unicode_path_field(header_name: bytes, utf8_name: str) -> bytes:
    body = b"\x01" + struct.pack("<I", zlib.crc32(header_name)) + utf8_name.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(body)) + body


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    write("folders.zip", [(entry("qorn/"), b""), (entry("qorn/qorn.exe"), b"MZ" + b"\0" * 30),
                          (entry("qorn/readme.txt"), b"hello " * 8)])
    write("stored_no_folder_entries.zip", [(entry("data/maps/a.dat"), b"abc"), (entry("data/b.dat"), b"")],
          method=zipfile.ZIP_STORED)
    # Python marks a non-ASCII name as UTF-8 (flag bit 11) by itself.
    write("utf8_name.zip", [(entry("资料/说明.txt"), "说明".encode("utf-8"))])
    write("unicode_path_field.zip",
          [(entry("x.txt", extra=unicode_path_field(b"x.txt", "文件.txt")), b"named by its Unicode Path field")])
    write("parent_part.zip", [(entry("ok.txt"), b"ok"), (entry("../escape.txt"), b"must not leave the client folder")])


if __name__ == "__main__":
    main()
