#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, and cross-builds the
# third-party libraries that Debian does not ship for mingw (libcurl with Schannel, minizip,
# libsodium)
# from Debian's own source packages into a cache outside the repository.
# Idempotent: a second run with everything present only checks and returns.
set -euo pipefail

CACHE_ROOT="${LAUNCHER_CACHE:-$HOME/.cache/launcher-deps}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# Both Windows toolchains: the shipped launcher is i686; the x86_64 build of the same sources
# is what runs under 64-bit Wine on hosts that cannot execute 32-bit code. clang and its
# runtime libraries (libFuzzer among them) build the fuzz targets of `make fuzz`.
PACKAGES=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  # libsodium's Debian source carries no configure script: its cross-build makes one
  autoconf automake libtool
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev
  googletest libgtest-dev
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libminizip-dev zlib1g-dev libdeflate-dev
  python3 python3-pytest
  wine wine64 xvfb xauth imagemagick
  curl unzip zip p7zip-full libarchive-tools locales fonts-wqy-zenhei fonts-wine
  # the studio's side: nginx serves a published channel, libsodium signs and checks its
  # configuration, osslsigncode and openssl sign the release
  nginx-light libsodium-dev osslsigncode openssl
)
# 32-bit Wine only where 32-bit code runs: elsewhere the i386 packages' own install scripts
# fail with "Exec format error" and leave dpkg half-configured.
HOST_RUNS_I386=0
if bash "$(dirname "$0")/host-runs-i386.sh"; then
  HOST_RUNS_I386=1
  PACKAGES+=(wine32:i386)
fi

need_apt_update=0
ensure_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_apt_update=1
  fi
}
ensure_deb_src() {
  local f=/etc/apt/sources.list.d/debian.sources
  if [ -f "$f" ] && grep -q '^Types: deb$' "$f"; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    need_apt_update=1
  elif [ ! -f "$f" ] && ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee /etc/apt/sources.list.d/launcher-src.list >/dev/null
    need_apt_update=1
  fi
}
missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

[ "$HOST_RUNS_I386" -eq 0 ] || ensure_i386
ensure_deb_src
mapfile -t missing < <(missing_packages)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
elif [ "$need_apt_update" -eq 1 ]; then
  $SUDO apt-get update -q
fi

ensure_locale() {
  # Wine takes its ANSI code page from the locale; zh_CN.UTF-8 gives code page 936.
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
}
ensure_locale

for arch in i686 x86_64; do
  "$(dirname "$0")/build-mingw-deps.sh" "$CACHE_ROOT" "$arch"
done
