#!/usr/bin/env bash
# Builds every target and runs every test layer: native unit tests (plain and under
# AddressSanitizer/UBSan), the Windows tests under Wine, and the pytest layers (tool tests and
# end-to-end scenarios of the real launcher under Wine).
#
# The Windows layers run one variant, chosen once here for the whole run (scripts/winerun.py):
# the shipped i686 build under 32-bit Wine where this host executes 32-bit code, else the
# x86_64 build under 64-bit Wine. LAUNCHER_WINE_ARCH=win32|win64 forces one. The shipped
# 32-bit launcher is built in either case.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3

# Nothing an earlier run left is seen by this one: every layer's temporary files (TMPDIR),
# pytest's folders and the Wine session (display, template prefix, prefixes) live in a folder
# made fresh for this run, whose name is the same length on every run. It is removed when the
# run passes and kept, for a look, when it fails.
RUN_TMP="$(mktemp -d "${TMPDIR:-/tmp}/launcher-test.XXXXXXXX")"
export TMPDIR="$RUN_TMP"
echo "== this run's temporary folder: $RUN_TMP"
finish() {
  local status=$?
  if [ -n "${LAUNCHER_WINE_RUN:-}" ]; then $PY scripts/winerun.py stop || true; fi
  if [ "$status" -eq 0 ]; then
    rm -rf "$RUN_TMP"
  else
    echo "== the run failed; its temporary folder stays: $RUN_TMP"
  fi
}
trap finish EXIT

why="$(mktemp)"
LAUNCHER_WINE_ARCH="$($PY scripts/winerun.py variant 2>"$why")"
WINE_REASON="$(cat "$why")"; rm -f "$why"
export LAUNCHER_WINE_ARCH
echo "== Windows variant under test: $WINE_REASON"

presets=(native native-asan win32)
[ "$LAUNCHER_WINE_ARCH" = win32 ] || presets+=("$LAUNCHER_WINE_ARCH")
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== native unit tests"
ctest --preset native
echo "== native unit tests under AddressSanitizer and UBSan"
ctest --preset native-asan

# One Wine session (display and template prefix) for this run, ended however the run ends.
export LAUNCHER_WINE_RUN="$RUN_TMP/wine"
export LAUNCHER_WIN_BUILD="$PWD/build/$LAUNCHER_WINE_ARCH"
echo "== starting Wine (virtual display and template prefix)"
$PY scripts/winerun.py start

echo "== Windows tests under Wine ($WINE_REASON)"
ctest --preset "$LAUNCHER_WINE_ARCH"

echo "== tool and end-to-end tests"
$PY -m pytest -q -p no:cacheprovider --basetemp="$RUN_TMP/pytest" tests/tools tests/e2e
