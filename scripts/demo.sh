#!/usr/bin/env bash
# Builds the launcher and shows what it does under Wine in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 >/dev/null
cmake --build --preset win32
export LAUNCHER_WINE_RUN="$PWD/build/wine-run/demo"
trap '/usr/bin/python3 scripts/winerun.py stop' EXIT
/usr/bin/python3 scripts/demo.py
