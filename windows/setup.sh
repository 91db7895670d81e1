#!/usr/bin/env bash
# Prepares this Debian machine for trackcarve's 32-bit Windows build:
#   - mingw-w64 i686 cross compiler (posix threads), wine + wine32:i386,
#     and the locale sources (locales) for the Wine suite;
#   - static libogg, libvorbis(+vorbisenc) and libFLAC for i686-w64-mingw32,
#     built from Debian's own source packages (the only source archive reachable);
#   - the header-only JSON library (Debian's nlohmann-json3-dev), copied
#     into the prefix with a .pc file of its own.
# Safe to run again: every step is skipped when its result is already there.
#
# Environment:
#   TRACKCARVE_MINGW_PREFIX  install prefix (default /opt/trackcarve-mingw)
#   TRACKCARVE_MINGW_JOBS    parallel build jobs (default: nproc)
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
pkgs=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix wine wine32:i386
      cmake make pkg-config dpkg-dev patch xz-utils ca-certificates locales
      nlohmann-json3-dev)
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

step "sources (apt-get source libogg libvorbis flac)"
missing_sources=()
for name in libogg libvorbis flac; do
  compgen -G "$work/src/${name}_*.dsc" >/dev/null || missing_sources+=("$name")
done
if ((${#missing_sources[@]} == 0)); then
  done_step "already downloaded, skipped"
else
  write_src_list >"$work/apt/src.sources"
  "$here/../scripts/apt-update.sh" "${apt_opts[@]}"
  (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only "${missing_sources[@]}")
  done_step "downloaded: ${missing_sources[*]}"
fi
step "unpack"
extract libogg ogg
extract libvorbis vorbis
extract flac flac
done_step "unpacked into $work/src"

# --- 3. builds -----------------------------------------------------------------
cmake_build() { # cmake_build SRC BUILD [extra cmake args]
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

awk -v a="$t_all" -v b="$EPOCHREALTIME" 'BEGIN { printf "==> total %.1f s\n", b - a }'
echo "prefix: $prefix"
echo "toolchain: $toolchain"
