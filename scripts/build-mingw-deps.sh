#!/usr/bin/env bash
# Cross-builds libcurl (static, Schannel), minizip, libsodium and libdeflate (static) for one mingw
# architecture (i686 or x86_64) from Debian's source packages into CACHE_ROOT/<arch>/<package>-<version>. A changed
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

# minizip's zip writer (zip.c), for the channel publisher only, in a folder and library of its
# own beside the reader so the launcher links what it always did. Its include folder carries
# the headers zip.h includes from beside itself.
mzw_out="$OUT_ROOT/minizip-zip-$mz_ver"
if [ ! -f "$mzw_out/.done" ]; then
  echo "setup: building minizip's zip writer $mz_ver for mingw $ARCH"
  src="$(fetch_source minizip "$mz_ver")"
  mzdir="$(dirname "$(find "$src" -name zip.c -path '*minizip*' | head -n 1)")"
  rm -rf "$mzw_out" && mkdir -p "$mzw_out/include/minizip" "$mzw_out/lib" "$mzw_out/obj"
  "$ARCH-w64-mingw32-gcc-posix" -O2 -c "$mzdir/zip.c" -o "$mzw_out/obj/zip.o"
  "$ARCH-w64-mingw32-ar" rcs "$mzw_out/lib/libminizip_zip.a" "$mzw_out/obj/zip.o"
  cp "$mzdir"/{zip.h,ioapi.h} "$mzw_out/include/minizip/"
  touch "$mzw_out/.done"
fi

# libsodium checks (and the publisher makes) the channel's configuration signature. Debian's
# source is the upstream tree without a generated configure script, so autoreconf makes one;
# the build runs in a folder of its own so both architectures share the unpacked source.
na_ver="$(src_version libsodium)"
na_out="$OUT_ROOT/libsodium-$na_ver"
if [ ! -f "$na_out/.done" ]; then
  echo "setup: building libsodium $na_ver for mingw $ARCH"
  src="$(fetch_source libsodium "$na_ver")"
  if [ ! -f "$src/configure" ]; then
    (cd "$src" && autoreconf -if >/dev/null 2>&1)
  fi
  rm -rf "$na_out" "$OUT_ROOT/build-libsodium" && mkdir -p "$OUT_ROOT/build-libsodium"
  (cd "$OUT_ROOT/build-libsodium" &&
    "$src/configure" --host="$ARCH-w64-mingw32" CC="$ARCH-w64-mingw32-gcc-posix" \
      --prefix="$na_out" --disable-shared --enable-static --disable-dependency-tracking >/dev/null &&
    make -j2 >/dev/null && make install >/dev/null)
  touch "$na_out/.done"
fi

# libdeflate inflates the package's smaller entries whole and checks every entry's CRC-32.
# Only its decompressor, CRC-32 and processor detection are built, as minizip's files are.
ld_ver="$(src_version libdeflate)"
ld_out="$OUT_ROOT/libdeflate-$ld_ver"
if [ ! -f "$ld_out/.done" ]; then
  echo "setup: building libdeflate $ld_ver for mingw $ARCH"
  src="$(fetch_source libdeflate "$ld_ver")"
  rm -rf "$ld_out" && mkdir -p "$ld_out/include" "$ld_out/lib" "$ld_out/obj"
  for f in deflate_decompress crc32 utils x86/cpu_features; do
    "$ARCH-w64-mingw32-gcc-posix" -O2 -fomit-frame-pointer -std=c99 -I"$src" -c "$src/lib/$f.c" \
      -o "$ld_out/obj/${f//\//_}.o"
  done
  "$ARCH-w64-mingw32-ar" rcs "$ld_out/lib/libdeflate.a" "$ld_out"/obj/*.o
  cp "$src/libdeflate.h" "$ld_out/include/"
  touch "$ld_out/.done"
fi

# Stable names for CMake to find whatever version is current.
ln -sfn "curl-$curl_ver+thunks" "$OUT_ROOT/curl-thunks"
ln -sfn "minizip-$mz_ver" "$OUT_ROOT/minizip"
ln -sfn "minizip-zip-$mz_ver" "$OUT_ROOT/minizip-zip"
ln -sfn "libsodium-$na_ver" "$OUT_ROOT/libsodium"
ln -sfn "libdeflate-$ld_ver" "$OUT_ROOT/libdeflate"
