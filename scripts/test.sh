#!/usr/bin/env bash
# Builds every target and runs every test layer: native unit tests (plain and under
# AddressSanitizer/UBSan), the Windows tests under Wine, and the pytest layers (tool tests and
# end-to-end scenarios of the real launcher under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3

for preset in native native-asan win32; do
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
trap '$PY scripts/winerun.py stop' EXIT
echo "== starting Wine (virtual display and template prefix)"
$PY scripts/winerun.py start

echo "== Windows tests under Wine"
ctest --preset win32

echo "== tool and end-to-end tests"
$PY -m pytest -q -p no:cacheprovider tests/tools tests/e2e
