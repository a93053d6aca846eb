#!/usr/bin/env python3
"""Reads a crash dump of the launcher against the build that wrote it.

    scripts/read-dump.py DUMP [--program build/win32/bin/Vantorra.exe] [--prefix DIR]

The shipped launcher is stripped; its symbols are in the debug file beside it (Vantorra.debug,
named by the program's debug link). This tool checks that the dump, the program and the debug
file belong to one build, puts the symbols back into a copy of the program, and has Wine's
debugger (winedbg) open the dump: it prints the faulting thread's registers and every thread's
backtrace with functions, arguments and source lines.

winedbg loads a dump's module from the very path the dump names (for example
C:\\qorn-palmet\\qorn.exe), so the copy is put there inside a Wine prefix: by default a new one in
a temporary folder (some seconds to make), or DIR, a throwaway prefix the tool may write
into.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import winerun  # noqa: E402
from pe_file import IMAGE_FILE_MACHINE_AMD64, Minidump, PeFile  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
TOOLCHAIN = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}
DEBUGGER_COMMANDS = "info share\nquit\n"


class ReadError(Exception):
    pass


def find_debug_file(program: Path, pe: PeFile) -> Path:
    link = pe.debug_link()
    if link is None:
        raise ReadError(f"{program} names no debug file (it was not built by this project's release step)")
    name, crc = link
    debug = program.with_name(name)
    if not debug.is_file():
        raise ReadError(f"the debug file {debug} is missing")
    if zlib.crc32(debug.read_bytes()) != crc:
        raise ReadError(f"{debug} is not the debug file of {program} (its CRC differs from the program's debug link)")
    return debug


def find_module(dump: Minidump, pe: PeFile):
    """The dump's module that is this build: by build id where the dump records one (Windows
    does), else by link time, image size and checksum (Wine's dump writer records no build
    id)."""
    build_id = pe.build_id()
    for module in dump.modules():
        if module.build_id is not None and build_id is not None:
            if module.build_id == build_id:
                return module
        elif (module.timestamp, module.size, module.checksum) == (pe.timestamp, pe.size_of_image, pe.checksum):
            return module
    programs = [m for m in dump.modules() if m.path.lower().endswith(".exe")]
    raise ReadError("the dump holds no module of this build (build id "
                    f"{build_id}, linked {pe.timestamp:#x}); its programs: "
                    + ", ".join(f"{m.path} ({m.build_id or hex(m.timestamp)})" for m in programs))


def rejoin(program: Path, debug: Path, pe: PeFile, variant: str, out: Path, work: Path) -> None:
    """A copy of the program with the debug sections of its debug file put back at their own
    addresses. One symbol keeps a COFF string table in the copy: Wine finds the long section
    names (.debug_info, ...) only through it."""
    objcopy = f"{TOOLCHAIN[variant]}-objcopy"
    debug_pe = PeFile.read(debug)
    names = debug_pe.debug_sections()
    if not names:
        raise ReadError(f"{debug} holds no debug sections")
    dumps, adds = [], []
    for name in names:
        part = work / f"{name.lstrip('.')}.bin"
        dumps += ["--dump-section", f"{name}={part}"]
        address = debug_pe.image_base + debug_pe.section(name).virtual_address
        adds += ["--add-section", f"{name}={part}", "--set-section-flags", f"{name}=readonly,debug",
                 "--change-section-address", f"{name}={address:#x}"]
    subprocess.run([objcopy, *dumps, str(debug), str(work / "discarded")], check=True)
    subprocess.run([objcopy, *adds, "--remove-section", ".gnu_debuglink",
                    "--add-symbol", "rejoined_symbols=.text:0,global", str(program), str(out)],
                   check=True, stderr=subprocess.DEVNULL)


def place_in_prefix(prefix: winerun.Prefix, windows_path: str, scratch: Path) -> Path:
    """The Linux path of windows_path in the prefix. Drive C: is the prefix's own; any other
    drive letter is pointed at a scratch folder, so nothing outside the prefix is written."""
    drive, _, rest = windows_path.partition(":")
    parts = [p for p in rest.replace("\\", "/").split("/") if p]
    if drive.upper() == "C":
        target = prefix.drive_c.joinpath(*parts)
    else:
        link = prefix.path / "dosdevices" / f"{drive.lower()}:"
        root = scratch / f"drive-{drive.lower()}"
        root.mkdir(exist_ok=True)
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(root)
        target = root.joinpath(*parts)
    if target.exists():
        raise ReadError(f"{windows_path} already exists in the prefix {prefix.path}: give a fresh prefix")
    target.parent.mkdir(parents=True, exist_ok=True)
    return target


def run_debugger(prefix: winerun.Prefix, dump: Path) -> str:
    with tempfile.TemporaryFile() as out:
        # Through a file, not a pipe: the first program of a new prefix starts Wine's services,
        # which inherit its handles and would hold a pipe open.
        subprocess.run([winerun.WINE[prefix.arch], "winedbg", dump.name], cwd=dump.parent,
                       input=DEBUGGER_COMMANDS.encode(), stdout=out, stderr=subprocess.STDOUT,
                       env=prefix.env, timeout=300, check=False)
        out.seek(0)
        return out.read().decode("utf-8", "replace")


def read_dump(dump_path: Path, program: Path, prefix_dir: Path | None) -> str:
    dump = Minidump.read(dump_path)
    pe = PeFile.read(program)
    variant = "win64" if pe.machine == IMAGE_FILE_MACHINE_AMD64 else "win32"
    if dump.is_x86() != (variant == "win32"):
        raise ReadError(f"{dump_path} and {program} are of different processors")
    debug = find_debug_file(program, pe)
    module = find_module(dump, pe)

    with tempfile.TemporaryDirectory(prefix="read-dump-") as scratch_dir:
        scratch = Path(scratch_dir)
        own_prefix = prefix_dir is None
        prefix = winerun.Prefix(scratch / "prefix" if own_prefix else prefix_dir, "", variant)
        placed = None
        try:
            if own_prefix:
                prefix.run("wineboot", ["-i"], timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            placed = place_in_prefix(prefix, module.path, scratch)
            rejoin(program, debug, pe, variant, placed, scratch)
            # Inside the prefix's C: drive, which stays mapped whatever drive the module is on.
            local_dump = prefix.drive_c / "read-dump" / dump_path.name
            local_dump.parent.mkdir(exist_ok=True)
            shutil.copyfile(dump_path, local_dump)
            header = (f"dump {dump_path}: {module.path} at {module.base:#x}, "
                      f"read against {program} and {debug}\n")
            return header + run_debugger(prefix, local_dump)
        finally:
            if own_prefix:
                prefix.kill()
            else:
                shutil.rmtree(prefix.drive_c / "read-dump", ignore_errors=True)
                if placed is not None:
                    placed.unlink(missing_ok=True)


def release_program() -> Path:
    """build/win32/bin/<game name>.exe, the program `make build` leaves."""
    build = REPO / "build" / "win32"
    name = "Vantorra"
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        for line in cache.read_text(errors="replace").splitlines():
            if line.startswith("LAUNCHER_GAME_NAME:"):
                name = line.split("=", 1)[1]
    return build / "bin" / f"{name}.exe"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("dump", type=Path)
    parser.add_argument("--program", type=Path, default=release_program(),
                        help="the program of the build that wrote the dump, its debug file beside it")
    parser.add_argument("--prefix", type=Path, help="a throwaway Wine prefix to read in (default: a new one)")
    args = parser.parse_args(argv)
    os.environ.pop("DISPLAY", None)
    try:
        print(read_dump(args.dump, args.program, args.prefix), end="")
    except (ReadError, ValueError, OSError, subprocess.SubprocessError) as error:
        print(f"read-dump: {error}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
