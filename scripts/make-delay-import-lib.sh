#!/usr/bin/env bash
# Makes a delay-import library for a system DLL from mingw-w64's ordinary import library: every
# function it names is bound on first call (mingw's __delayLoadHelper2 loads the DLL then),
# not by the loader when the program starts.
#   make-delay-import-lib.sh <toolchain prefix> <import library> <DLL name> <output library>
set -euo pipefail
prefix=$1 import_lib=$2 dll=$3 out=$4

case "$prefix" in
  i686-*) machine=i386; strip='__imp__'; kill_at=(-k) ;;  # stdcall names carry @N
  x86_64-*) machine=i386:x86-64; strip='__imp_'; kill_at=() ;;
  *) echo "make-delay-import-lib.sh: unknown toolchain $prefix" >&2; exit 2 ;;
esac

# dlltool names the library's symbols after the output path: run it beside the output, so no
# path of the build machine ends up in the program.
cd "$(dirname "$out")"
name=$(basename "$out" .a)
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$prefix-nm" "$import_lib" | sed -n "s/^.* I ${strip}//p" | sort -u
} >"$name.def"
"$prefix-dlltool" "${kill_at[@]}" -m "$machine" -d "$name.def" -D "$dll" -y "$name.tmp"
mv "$name.tmp" "$name.a"
