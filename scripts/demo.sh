#!/usr/bin/env bash
# Builds the launcher and shows what it does under Wine in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=/usr/bin/python3
# The variant this host runs (see scripts/winerun.py), decided once for the whole demo.
LAUNCHER_WINE_ARCH="$($PY scripts/winerun.py variant)"
export LAUNCHER_WINE_ARCH
cmake --preset "$LAUNCHER_WINE_ARCH" >/dev/null
cmake --build --preset "$LAUNCHER_WINE_ARCH"
export LAUNCHER_WINE_RUN="$PWD/build/wine-run/demo"
trap '$PY scripts/winerun.py stop' EXIT
$PY scripts/demo.py
