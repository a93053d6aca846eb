#!/usr/bin/python3
"""Checks that every delay-loaded function a Windows program links is bound to its thunk.

A delay-import slot (__imp_<name> from one of build/<variant>/delay-imports/*.a) holds, until the
first call, the address of the thunk that loads the DLL; a slot left 0 by the linker makes that
first call jump to address 0. Reads the program with the toolchain's nm and objdump.

  check-delay-imports.py <toolchain prefix> <delay-imports folder> <program>...
"""
import re
import subprocess
import sys
from pathlib import Path


def delay_slots(tool_prefix: str, folder: Path) -> set[str]:
    names = set()
    for lib in sorted(folder.glob("*-delay.a")):
        out = subprocess.run([f"{tool_prefix}-nm", str(lib)], capture_output=True, text=True, check=True).stdout
        names.update(m.group(1) for m in re.finditer(r"^\S* I (\S+)$", out, re.M))
    return names


def image_words(tool_prefix: str, program: str) -> dict[int, int]:
    """Every 32/64-bit little-endian word of the program's sections, by address."""
    out = subprocess.run([f"{tool_prefix}-objdump", "-s", program], capture_output=True, text=True,
                         check=True).stdout
    data = {}
    for m in re.finditer(r"^ ([0-9a-f]+) ((?:[0-9a-f]{1,8} ){1,4})", out, re.M):
        address = int(m.group(1), 16)
        for chunk in m.group(2).split():
            for i in range(0, len(chunk), 2):
                data[address] = int(chunk[i:i + 2], 16)
                address += 1
    return data


def unbound(tool_prefix: str, folder: Path, program: str) -> list[str]:
    slots = delay_slots(tool_prefix, folder)
    width = 8 if tool_prefix.startswith("x86_64") else 4
    out = subprocess.run([f"{tool_prefix}-nm", program], capture_output=True, text=True, check=True).stdout
    data = image_words(tool_prefix, program)
    bad = []
    for m in re.finditer(r"^([0-9a-f]+) I (\S+)$", out, re.M):
        address, name = int(m.group(1), 16), m.group(2)
        if name not in slots:
            continue
        value = sum(data.get(address + i, 0) << (8 * i) for i in range(width))
        if value == 0:
            bad.append(name)
    return bad


def main(argv: list[str]) -> int:
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    tool_prefix, folder, programs = argv[1], Path(argv[2]), argv[3:]
    failed = False
    for program in programs:
        bad = unbound(tool_prefix, folder, program)
        if bad:
            failed = True
            print(f"{program}: {len(bad)} delay-loaded functions would jump to address 0 on their first call: "
                  + ", ".join(sorted(bad)))
        else:
            print(f"{program}: every delay-loaded function is bound to its thunk")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
