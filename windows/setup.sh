#!/usr/bin/env bash
# Prepares this Debian machine for trackcarve's 32-bit Windows build:
#   - mingw-w64 i686 cross compiler (posix threads), wine + wine32:i386,
#     and the locale sources (locales) for the Wine suite;
#   - static libogg, libvorbis(+vorbisenc) and libFLAC for i686-w64-mingw32,
#     built from Debian's own source packages (the only source archive reachable);
#   - the header-only JSON library (Debian's nlohmann-json3-dev), copied
#     into the prefix with a .pc file of its own;
#   - for the features that read archives, CHD images and hash tracks:
#     static zlib, bzip2, liblzma, libzstd, Nettle, libdeflate (the CRC32
#     of hashed tracks) and libarchive (reading only, no crypto), from
#     Debian's source packages too, and xxHash header-only from the host's
#     libxxhash-dev;
#   - static expat, the XML reader of --dat's DATs, from Debian's source.
# Every library has a .pc file in $prefix/lib/pkgconfig that carries what a
# static link needs (its dependencies in Requires/Libs, and the defines that
# keep its headers from importing from a DLL, LZMA_API_STATIC,
# LIBARCHIVE_STATIC and XML_STATIC, in Cflags).
# Safe to run again: every step is skipped when its result is already there.
#
# Environment:
#   TRACKCARVE_MINGW_PREFIX  install prefix (default /opt/trackcarve-mingw)
#   TRACKCARVE_MINGW_JOBS    parallel build jobs (default: nproc)
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
prefix="${TRACKCARVE_MINGW_PREFIX:-/opt/trackcarve-mingw}"
jobs="${TRACKCARVE_MINGW_JOBS:-$(nproc)}"
work="$prefix/.work"          # apt lists, sources, build trees: kept for reruns
toolchain="$here/mingw-i686.cmake"

# --- timing helpers: report how long each step took -------------------------
t_all=$EPOCHREALTIME
t_step=$t_all
step() { t_step=$EPOCHREALTIME; echo "==> $*"; }
done_step() {
  awk -v a="$t_step" -v b="$EPOCHREALTIME" -v m="$*" \
    'BEGIN { printf "    %-44s %7.1f s\n", m, b - a }'
}

if [[ $(id -u) -ne 0 ]]; then
  echo "setup.sh: run as root (it installs packages and writes $prefix)" >&2
  exit 1
fi

# --- 1. packages -------------------------------------------------------------
# patch: dpkg-source applies Debian's quilt patches with it.
# dpkg-dev: dpkg-source.  xz-utils: the .orig/.debian tarballs.
# locales: the locale sources localedef compiles ja_JP.UTF-8 from, for the
# Wine suite's code page 932 check.
# m4: Nettle's build turns its assembly sources with it.
# libxxhash-dev: xxHash's headers, copied into the prefix.
pkgs=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix wine wine32:i386
      cmake make pkg-config dpkg-dev patch xz-utils ca-certificates locales
      nlohmann-json3-dev m4 libxxhash-dev)
step "packages"
missing=()
for p in "${pkgs[@]}"; do
  if [[ $(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null) != installed ]]; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  # wine32 is an i386 package; apt only offers it once the arch is enabled.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  "$here/../scripts/apt-update.sh"
  # Recommends would add fonts, gstreamer, desktop bits: none needed for a
  # console program run without a display.
  "$here/../scripts/apt-install.sh" -q --no-install-recommends "${missing[@]}"
  done_step "installed: ${missing[*]}"
else
  done_step "all present, skipped"
fi

# --- 2. Debian source packages of libogg, libvorbis and flac -----------------
# A private deb-src list so the machine's own apt configuration is untouched.
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
apt_opts=(-o "Dir::Etc::SourceList=$work/apt/src.sources"
          -o "Dir::Etc::SourceParts=/dev/null"
          -o "Dir::State::Lists=$work/apt/lists"
          -o "Dir::Cache=$work/apt/cache"
          # Downloads land in root-only dirs; the _apt sandbox user can't write
          # there and apt would warn on every file.
          -o "APT::Sandbox::User=root")

write_src_list() {
  # Reuse the mirror(s) the machine already uses, as deb-src.
  local sys=/etc/apt/sources.list.d/debian.sources
  if [[ -f $sys ]]; then
    sed -E 's/^Types:.*/Types: deb-src/' "$sys"
  elif [[ -f /etc/apt/sources.list ]] && grep -qE '^deb[[:space:]]' /etc/apt/sources.list; then
    # One-line format: turn it into deb822 stanzas.
    grep -E '^deb[[:space:]]' /etc/apt/sources.list |
      while read -r _ a b c rest; do
        local opts="" uri suite comps
        if [[ $a == \[* ]]; then opts=$a; uri=$b; suite=$c; comps=$rest
        else uri=$a; suite=$b; comps="$c${rest:+ $rest}"; fi
        printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n' "$uri" "$suite" "$comps"
        if [[ $opts =~ signed-by=([^] ]+) ]]; then
          printf 'Signed-By: %s\n' "${BASH_REMATCH[1]}"
        fi
        echo
      done
  else
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$VERSION_CODENAME"
  fi
}

extract() { # extract NAME DIR: unpack the downloaded NAME_*.dsc into $work/src/DIR
  local name=$1 dir=$2 dsc
  [[ -d $work/src/$dir ]] && return 0
  dsc=$(ls "$work"/src/"${name}"_*.dsc | sort -V | tail -n1)
  rm -rf "$work/src/$dir.tmp"
  # Unsigned-key warnings are expected (debian-keyring isn't installed); the
  # files were already checked against the archive's signed Release file.
  dpkg-source -x "$dsc" "$work/src/$dir.tmp" >"$work/src/$dir.extract.log" 2>&1 ||
    { cat "$work/src/$dir.extract.log" >&2; exit 1; }
  mv "$work/src/$dir.tmp" "$work/src/$dir"
}

# Source package names; libzstd is zstd's, xz-utils liblzma's.
sources=(libogg libvorbis flac zlib bzip2 xz-utils libzstd nettle libdeflate libarchive expat)
step "sources (apt-get source ${sources[*]})"
missing_sources=()
for name in "${sources[@]}"; do
  compgen -G "$work/src/${name}_*.dsc" >/dev/null || missing_sources+=("$name")
done
if ((${#missing_sources[@]} == 0)); then
  done_step "already downloaded, skipped"
else
  write_src_list >"$work/apt/src.sources"
  "$here/../scripts/apt-update.sh" "${apt_opts[@]}"
  # The security suite's index can name a source whose files its mirror
  # lacks (404) or is still syncing; then the release's own version is taken.
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for name in "${missing_sources[@]}"; do
    (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only "$name") && continue
    echo "setup.sh: apt-get source $name failed; trying again with the release as target (-t $release)" >&2
    rm -f "$work/src/${name}_"*
    (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only -t "$release" "$name")
  done
  done_step "downloaded: ${missing_sources[*]}"
fi
step "unpack"
extract libogg ogg
extract libvorbis vorbis
extract flac flac
extract zlib zlib
extract bzip2 bzip2
extract xz-utils xz
extract libzstd zstd
extract nettle nettle
extract libdeflate libdeflate
extract libarchive libarchive
extract expat expat
done_step "unpacked into $work/src"

# --- 3. builds -----------------------------------------------------------------
cmake_configure() { # cmake_configure SRC BUILD [extra cmake args]
  local src=$1 bld=$2; shift 2
  cmake -S "$src" -B "$bld" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DTRACKCARVE_MINGW_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF \
    -DINSTALL_DOCS=OFF \
    "$@" >"$bld.configure.log" 2>&1 || { cat "$bld.configure.log" >&2; exit 1; }
}
cmake_build() { # cmake_build SRC BUILD [extra cmake args]: configure, build, install
  local bld=$2
  cmake_configure "$@"
  cmake --build "$bld" -j "$jobs" >"$bld.build.log" 2>&1 || { tail -n 60 "$bld.build.log" >&2; exit 1; }
  cmake --install "$bld" >"$bld.install.log" 2>&1 || { cat "$bld.install.log" >&2; exit 1; }
}

# The libraries are compiled with the toolchain file's flags (SSE2 and the
# rest): when that file changes, libraries built before are rebuilt. Its
# checksum at the last build is kept beside them.
stamp=$prefix/lib/trackcarve-toolchain.sha256
toolchain_sum=$(sha256sum <"$toolchain" | cut -d ' ' -f 1)
built_with=$(cat "$stamp" 2>/dev/null || true)
current() { [[ $built_with == "$toolchain_sum" ]]; }

step "libogg (static, i686-w64-mingw32)"
if current && [[ -f $prefix/lib/libogg.a && -f $prefix/lib/pkgconfig/ogg.pc ]]; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-ogg"
  cmake_build "$work/src/ogg" "$work/build-ogg"
  done_step "built and installed"
fi

step "libvorbis + vorbisenc (static, i686-w64-mingw32)"
if current && [[ -f $prefix/lib/libvorbisenc.a && -f $prefix/lib/libvorbis.a && -f $prefix/lib/pkgconfig/vorbisenc.pc ]]; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-vorbis"
  # Find the static libogg just installed (its OggConfig.cmake / FindOgg).
  cmake_build "$work/src/vorbis" "$work/build-vorbis" \
    -DCMAKE_PREFIX_PATH="$prefix" -DOGG_ROOT="$prefix"
  done_step "built and installed"
fi
step "libFLAC (static, i686-w64-mingw32)"
# The library alone, native FLAC only (no Ogg FLAC), no C++ wrapper: the
# program uses the stream encoder through callbacks on its own FILE. No
# stack protector or _FORTIFY_SOURCE: with MinGW they need libssp, which
# the program does not link. The options are kept beside the library, so a
# change to them rebuilds it.
flac_options=(-DWITH_OGG=OFF -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF
              -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF)
flac_stamp=$prefix/lib/trackcarve-flac-options
if current && [[ -f $prefix/lib/libFLAC.a && -f $prefix/lib/pkgconfig/flac.pc &&
                 $(cat "$flac_stamp" 2>/dev/null) == "${flac_options[*]}" ]]; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-flac"
  cmake_build "$work/src/flac" "$work/build-flac" "${flac_options[@]}"
  echo "${flac_options[*]}" >"$flac_stamp"
  done_step "built and installed"
fi

# --- the libraries of the coming features ------------------------------------
# Static only, like those above. Those without a CMake build are configured
# for the target with the toolchain file's C flags, read from it, so a change
# there rebuilds them too. Each one's options are kept beside it as
# trackcarve-NAME-options: a change to them rebuilds it.
cross_cc=i686-w64-mingw32-gcc-posix
cross_cflags="-O2 $(sed -n 's/^set(CMAKE_C_FLAGS_INIT "\(.*\)")$/\1/p' "$toolchain")"

# up_to_date NAME OPTIONS FILE...: NAME was built with this toolchain file
# and these options, and FILEs (under the prefix) are there.
up_to_date() {
  local name=$1 options=$2 file
  shift 2
  current && [[ $(cat "$prefix/lib/trackcarve-$name-options" 2>/dev/null) == "$options" ]] || return 1
  for file in "$@"; do [[ -f $prefix/$file ]] || return 1; done
}
built() { # built NAME OPTIONS: note the options a library was built with
  echo "$2" >"$prefix/lib/trackcarve-$1-options"
}
run_logged() { # run_logged LOG COMMAND...: quiet unless it fails
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { tail -n 60 "$log" >&2; exit 1; }
}
autotools_build() { # autotools_build SRC BUILD [configure args]: out of tree
  local src=$1 bld=$2
  shift 2
  rm -rf "$bld"
  mkdir -p "$bld"
  (cd "$bld" && run_logged "$bld.configure.log" "$src/configure" --host=i686-w64-mingw32 \
     --prefix="$prefix" --disable-shared --enable-static CC="$cross_cc" CFLAGS="$cross_cflags" \
     PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" "$@")
  run_logged "$bld.build.log" make -C "$bld" -j "$jobs"
  run_logged "$bld.install.log" make -C "$bld" install
}

step "zlib (static, i686-w64-mingw32)"
# Its configure knows MinGW (libz.a, zlib.pc); the CMake build would name
# the static library libzlibstatic.a beside a DLL.
zlib_options="--static"
if up_to_date zlib "$zlib_options" lib/libz.a lib/pkgconfig/zlib.pc; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-zlib"
  mkdir -p "$work/build-zlib"
  (cd "$work/build-zlib" && CHOST=i686-w64-mingw32 CC="$cross_cc" CFLAGS="$cross_cflags" \
     run_logged "$work/build-zlib.configure.log" "$work/src/zlib/configure" --prefix="$prefix" $zlib_options)
  run_logged "$work/build-zlib.build.log" make -C "$work/build-zlib" -j "$jobs" libz.a
  run_logged "$work/build-zlib.install.log" make -C "$work/build-zlib" install
  built zlib "$zlib_options"
  done_step "built and installed"
fi

step "bzip2 (static, i686-w64-mingw32)"
# The library alone from its plain Makefile, and a bzip2.pc written here
# (the source has none).
bzip2_options="libbz2.a"
if up_to_date bzip2 "$bzip2_options" lib/libbz2.a lib/pkgconfig/bzip2.pc include/bzlib.h; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-bzip2"
  cp -r "$work/src/bzip2" "$work/build-bzip2"
  run_logged "$work/build-bzip2.build.log" make -C "$work/build-bzip2" -j "$jobs" libbz2.a \
    CC="$cross_cc" AR=i686-w64-mingw32-ar RANLIB=i686-w64-mingw32-ranlib \
    CFLAGS="$cross_cflags -D_FILE_OFFSET_BITS=64"
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$work/build-bzip2/bzlib.h" "$prefix/include/"
  cp "$work/build-bzip2/libbz2.a" "$prefix/lib/"
  bzip2_version=$(sed -n 's/^Version: *//p' "$work"/src/bzip2_*.dsc | head -n 1)
  printf '%s\n' "prefix=$prefix" 'libdir=${prefix}/lib' 'includedir=${prefix}/include' '' \
    'Name: bzip2' 'Description: a file compressor library' "Version: ${bzip2_version%%-*}" \
    'Libs: -L${libdir} -lbz2' 'Cflags: -I${includedir}' >"$prefix/lib/pkgconfig/bzip2.pc"
  built bzip2 "$bzip2_options"
  done_step "built and installed"
fi

step "liblzma (static, i686-w64-mingw32, from xz-utils)"
# The library alone, with Windows' own threads (no winpthread). Its headers
# import from a DLL unless LZMA_API_STATIC is defined: the .pc says so.
lzma_options="--enable-threads=vista --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo
  --disable-lzma-links --disable-scripts --disable-doc --disable-nls"
if up_to_date lzma "$lzma_options" lib/liblzma.a lib/pkgconfig/liblzma.pc; then
  done_step "already in $prefix, skipped"
else
  autotools_build "$work/src/xz" "$work/build-xz" $lzma_options
  sed -i 's|^Cflags:.*|& -DLZMA_API_STATIC|' "$prefix/lib/pkgconfig/liblzma.pc"
  built lzma "$lzma_options"
  done_step "built and installed"
fi

step "libzstd (static, i686-w64-mingw32)"
# The library alone, single-threaded: reading is all that is wanted of it.
zstd_options=(-DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF
              -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF)
if up_to_date zstd "${zstd_options[*]}" lib/libzstd.a lib/pkgconfig/libzstd.pc; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-zstd"
  cmake_build "$work/src/zstd/build/cmake" "$work/build-zstd" "${zstd_options[@]}"
  built zstd "${zstd_options[*]}"
  done_step "built and installed"
fi

step "Nettle (static, i686-w64-mingw32)"
# The hashes are in libnettle; the public-key half (hogweed) needs GMP and
# is left out.
nettle_options="--disable-public-key --disable-documentation --disable-openssl"
if up_to_date nettle "$nettle_options" lib/libnettle.a lib/pkgconfig/nettle.pc; then
  done_step "already in $prefix, skipped"
else
  # Debian's patch to aclocal.m4 leaves it newer than config.h.in, and make
  # would regenerate that with autoheader; the patch changes nothing there.
  touch "$work/src/nettle/config.h.in" "$work/src/nettle/stamp-h.in"
  autotools_build "$work/src/nettle" "$work/build-nettle" $nettle_options
  built nettle "$nettle_options"
  done_step "built and installed"
fi

step "libdeflate (static, i686-w64-mingw32)"
# The library alone from its plain Makefile, which names it
# libdeflatestatic.lib for a Windows target; installed as libdeflate.a with
# a libdeflate.pc written here. Its header imports from a DLL only when
# LIBDEFLATE_DLL is defined.
libdeflate_options="libdeflatestatic.lib"
if up_to_date libdeflate "$libdeflate_options" lib/libdeflate.a lib/pkgconfig/libdeflate.pc include/libdeflate.h; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$work/build-libdeflate"
  cp -r "$work/src/libdeflate" "$work/build-libdeflate"
  run_logged "$work/build-libdeflate.build.log" make -C "$work/build-libdeflate" -j "$jobs" libdeflatestatic.lib \
    CC="$cross_cc" AR=i686-w64-mingw32-ar CFLAGS="$cross_cflags"
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$work/build-libdeflate/libdeflate.h" "$prefix/include/"
  cp "$work/build-libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  libdeflate_version=$(sed -n 's/^Version: *//p' "$work"/src/libdeflate_*.dsc | head -n 1)
  printf '%s\n' "prefix=$prefix" 'libdir=${prefix}/lib' 'includedir=${prefix}/include' '' \
    'Name: libdeflate' 'Description: fast DEFLATE and CRC32' "Version: ${libdeflate_version%%-*}" \
    'Libs: -L${libdir} -ldeflate' 'Cflags: -I${includedir}' >"$prefix/lib/pkgconfig/libdeflate.pc"
  built libdeflate "$libdeflate_options"
  done_step "built and installed"
fi

step "expat (static, i686-w64-mingw32)"
# The library alone. Its headers import from a DLL unless XML_STATIC is
# defined: the .pc says so. Debian's security fixes test `XML_DTD == 1`, as
# the autotools build defines it; the CMake build's config header defines
# XML_DTD empty, so it is given the value before the build.
expat_options=(-DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF
               -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_BUILD_PKGCONFIG=ON)
if up_to_date expat "${expat_options[*]}" lib/libexpat.a lib/pkgconfig/expat.pc; then
  done_step "already in $prefix, skipped"
else
  bld=$work/build-expat
  rm -rf "$bld"
  cmake_configure "$work/src/expat/expat" "$bld" "${expat_options[@]}"
  sed -i 's|^#define XML_DTD$|#define XML_DTD 1|' "$bld/expat_config.h"
  run_logged "$bld.build.log" cmake --build "$bld" -j "$jobs"
  run_logged "$bld.install.log" cmake --install "$bld"
  sed -i 's|^Cflags:.*|& -DXML_STATIC|' "$prefix/lib/pkgconfig/expat.pc"
  built expat "${expat_options[*]}"
  done_step "built and installed"
fi

step "libarchive (static, i686-w64-mingw32, reading zip and 7z)"
# Compression through the static zlib, bzip2, liblzma and libzstd above;
# no crypto (encrypted members are refused), no XML (xar), no regex (its
# substitutions and matching), no iconv, ACLs or extended attributes, and
# none of its programs: nothing that would add a DLL to the program's
# imports. Its CMake build makes a DLL and a static
# library named libarchive_static.a; only the static one is built, and it
# is installed by hand as libarchive.a with the two headers and the .pc,
# which gets what a static link needs (LIBARCHIVE_STATIC, and the
# compression libraries above in Requires, so that a plain pkg-config link,
# without --static, brings them). windows/libarchive-no-advapi32.patch,
# applied to a copy of the source, keeps ADVAPI32.dll out as well; its
# checksum is part of the options, so a change to it rebuilds the library.
archive_options=(-DENABLE_ZLIB=ON -DENABLE_BZip2=ON -DENABLE_LZMA=ON -DENABLE_ZSTD=ON
                 -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=OFF
                 -DENABLE_LIBB2=OFF -DENABLE_LZ4=OFF -DENABLE_LZO=OFF -DENABLE_LIBXML2=OFF
                 -DENABLE_EXPAT=OFF -DENABLE_PCREPOSIX=OFF -DENABLE_LIBGCC=OFF -DENABLE_ICONV=OFF
                 -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF
                 -DENABLE_CAT=OFF -DENABLE_TEST=OFF -DENABLE_WERROR=OFF -DPOSIX_REGEX_LIB=NONE)
archive_patch=$here/libarchive-no-advapi32.patch
archive_stamp="${archive_options[*]} patch:$(sha256sum <"$archive_patch" | cut -d ' ' -f 1)"
if up_to_date libarchive "$archive_stamp" lib/libarchive.a lib/pkgconfig/libarchive.pc; then
  done_step "already in $prefix, skipped"
else
  bld=$work/build-libarchive
  src=$work/build-libarchive-src
  rm -rf "$bld" "$src"
  cp -r "$work/src/libarchive" "$src"
  run_logged "$bld.patch.log" patch -d "$src" -p1 -i "$archive_patch"
  cmake_configure "$src" "$bld" -DCMAKE_PREFIX_PATH="$prefix" "${archive_options[@]}"
  run_logged "$bld.build.log" cmake --build "$bld" -j "$jobs" --target archive_static
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$src/libarchive/archive.h" "$src/libarchive/archive_entry.h" "$prefix/include/"
  cp "$bld/libarchive/libarchive_static.a" "$prefix/lib/libarchive.a"
  cp "$bld/build/pkgconfig/libarchive.pc" "$prefix/lib/pkgconfig/libarchive.pc"
  sed -i -e 's|^Cflags:.*|Cflags: -I${includedir} -DLIBARCHIVE_STATIC|' \
    -e '/^\(Cflags.private\|Requires\|Requires.private\|Libs.private\):/d' "$prefix/lib/pkgconfig/libarchive.pc"
  echo 'Requires: zlib bzip2 liblzma libzstd' >>"$prefix/lib/pkgconfig/libarchive.pc"
  built libarchive "$archive_stamp"
  done_step "built and installed"
fi
echo "$toolchain_sum" >"$stamp"

# Header-only, so the host package's headers serve the target as they are;
# but the toolchain file lets the cross build see only the prefix (the
# host's /usr/include would bring the host's C library), so they go there.
step "nlohmann-json (header-only, from the host's nlohmann-json3-dev)"
json_version=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev)
if [[ -f $prefix/include/nlohmann/json.hpp && $(cat "$prefix/include/nlohmann/.version" 2>/dev/null) == "$json_version" ]]; then
  done_step "already in $prefix, skipped"
else
  rm -rf "$prefix/include/nlohmann"
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp -r /usr/include/nlohmann "$prefix/include/"
  echo "$json_version" >"$prefix/include/nlohmann/.version"
  sed "s|^Cflags:.*|Cflags: -I$prefix/include|" /usr/share/pkgconfig/nlohmann_json.pc >"$prefix/lib/pkgconfig/nlohmann_json.pc"
  done_step "copied into $prefix"
fi

# xxHash, header-only the same way; XXH_INLINE_ALL (in its .pc's Cflags)
# compiles it into the program, so there is no library to link.
step "xxHash (header-only, from the host's libxxhash-dev)"
xxhash_version=$(dpkg-query -W -f='${Version}' libxxhash-dev)
if [[ -f $prefix/include/xxhash.h && $(cat "$prefix/include/.xxhash-version" 2>/dev/null) == "$xxhash_version" ]]; then
  done_step "already in $prefix, skipped"
else
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp /usr/include/xxhash.h /usr/include/xxh3.h "$prefix/include/"
  echo "$xxhash_version" >"$prefix/include/.xxhash-version"
  printf '%s\n' "prefix=$prefix" 'includedir=${prefix}/include' '' \
    'Name: libxxhash' 'Description: extremely fast hash algorithm, header-only (XXH_INLINE_ALL)' \
    "Version: $(pkg-config --modversion libxxhash)" \
    'Cflags: -I${includedir} -DXXH_INLINE_ALL' >"$prefix/lib/pkgconfig/libxxhash.pc"
  done_step "copied into $prefix"
fi

awk -v a="$t_all" -v b="$EPOCHREALTIME" 'BEGIN { printf "==> total %.1f s\n", b - a }'
echo "prefix: $prefix"
echo "toolchain: $toolchain"
