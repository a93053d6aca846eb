#!/usr/bin/env bash
# Cross-builds libcurl (static, Schannel) and minizip for one mingw architecture (i686 or
# x86_64) from Debian's source packages into CACHE_ROOT/<arch>/<package>-<version>. A changed
# Debian version builds anew; an existing build is reused. The sources are shared.
set -euo pipefail
CACHE_ROOT="${1:?cache folder}"
ARCH="${2:?architecture: i686 or x86_64}"
case "$ARCH" in i686|x86_64) ;; *) echo "unknown architecture $ARCH" >&2; exit 2 ;; esac
REPO="$(cd "$(dirname "$0")/.." && pwd)"
TOOLCHAIN="$REPO/cmake/toolchain-mingw-$ARCH.cmake"
OUT_ROOT="$CACHE_ROOT/$ARCH"
mkdir -p "$CACHE_ROOT/src" "$OUT_ROOT"

src_version() { apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1; }

fetch_source() { # package -> prints the unpacked source folder
  local pkg="$1" ver="$2" dir="$CACHE_ROOT/src/$1-$2"
  if [ ! -f "$dir/.unpacked" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && apt-get source -q "$pkg=$ver" >/dev/null)
    touch "$dir/.unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

curl_ver="$(src_version curl)"
# "+thunks": built with DECLSPEC_IMPORT empty, so its calls into the delay-loaded crypt32 and
# bcrypt keep their delay-load thunks (cmake/DelayImports.cmake says why). A build of the same
# version without it is left unused; CMake finds this one as "curl-thunks".
curl_out="$OUT_ROOT/curl-$curl_ver+thunks"
if [ ! -f "$curl_out/.done" ]; then
  echo "setup: building libcurl $curl_ver for mingw $ARCH"
  src="$(fetch_source curl "$curl_ver")"
  rm -rf "$curl_out" "$OUT_ROOT/build-curl-thunks"
  cmake -S "$src" -B "$OUT_ROOT/build-curl-thunks" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS="-DDECLSPEC_IMPORT=" \
    -DCMAKE_INSTALL_PREFIX="$curl_out" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DUSE_LIBIDN2=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DENABLE_MANUAL=OFF -DCURL_DISABLE_LDAP=ON >/dev/null
  cmake --build "$OUT_ROOT/build-curl-thunks" -j2 >/dev/null
  cmake --install "$OUT_ROOT/build-curl-thunks" >/dev/null
  touch "$curl_out/.done"
fi

mz_ver="$(src_version minizip)"
mz_out="$OUT_ROOT/minizip-$mz_ver"
if [ ! -f "$mz_out/.done" ]; then
  echo "setup: building minizip $mz_ver for mingw $ARCH"
  src="$(fetch_source minizip "$mz_ver")"
  mzdir="$(dirname "$(find "$src" -name unzip.c -path '*minizip*' | head -n 1)")"
  rm -rf "$mz_out" && mkdir -p "$mz_out/include/minizip" "$mz_out/lib" "$mz_out/obj"
  for f in ioapi unzip iowin32; do
    "$ARCH-w64-mingw32-gcc-posix" -O2 -c "$mzdir/$f.c" -o "$mz_out/obj/$f.o"
  done
  "$ARCH-w64-mingw32-ar" rcs "$mz_out/lib/libminizip.a" "$mz_out"/obj/*.o
  cp "$mzdir"/{ioapi.h,unzip.h,iowin32.h,crypt.h} "$mz_out/include/minizip/" 2>/dev/null || cp "$mzdir"/{ioapi.h,unzip.h,iowin32.h} "$mz_out/include/minizip/"
  touch "$mz_out/.done"
fi

# Stable names for CMake to find whatever version is current.
ln -sfn "curl-$curl_ver+thunks" "$OUT_ROOT/curl-thunks"
ln -sfn "minizip-$mz_ver" "$OUT_ROOT/minizip"
