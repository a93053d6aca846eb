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
export LAUNCHER_WINE_RUN="$PWD/build/wine-run/test"
export LAUNCHER_WIN_BUILD="$PWD/build/$LAUNCHER_WINE_ARCH"
trap '$PY scripts/winerun.py stop' EXIT
echo "== starting Wine (virtual display and template prefix)"
$PY scripts/winerun.py start

echo "== Windows tests under Wine ($WINE_REASON)"
ctest --preset "$LAUNCHER_WINE_ARCH"

echo "== tool and end-to-end tests"
$PY -m pytest -q -p no:cacheprovider tests/tools tests/e2e
