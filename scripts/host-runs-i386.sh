#!/usr/bin/env bash
# Exits 0 when this host can execute 32-bit x86 code, and 1 when it cannot (kernels built or
# booted without IA-32 emulation refuse every i386 program with "Exec format error").
# The probe is a 93-byte i386 ELF that only calls exit(0); it needs nothing installed.
set -u
probe="$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")" || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one PT_LOAD program header (32 bytes), then
# mov eax,1 / xor ebx,ebx / int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00''\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00''\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00''\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null && exit 0
exit 1
