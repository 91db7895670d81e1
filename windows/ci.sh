#!/usr/bin/env bash
# CI for the 32-bit Windows build, on Debian 12 as root, after the Linux build
# (scripts/build.sh: the sample disc generator in build/ is used, and
# build/trackcarve, whose outputs the .exe's are compared with):
#   1. windows/setup.sh: cross compiler, wine, the static libraries;
#   2. cross-build build-win32/trackcarve.exe (Release: static, stripped);
#   3. windows/lib-check/run.sh: every static library in the prefix called
#      once under wine, from an .exe that imports only KERNEL32 and msvcrt;
#   4. windows/test-under-wine.sh: the .exe run end to end under wine.
# One PASS/FAIL line per check, then "N passed, M failed"; status 1 if any
# check failed. Every step runs under a time limit, so it cannot hang.
#
# Environment: TRACKCARVE_WIN32_BUILD (build dir, default build-win32), plus
# those of setup.sh and run-wine.sh (TRACKCARVE_MINGW_PREFIX, TRACKCARVE_WINEPREFIX).
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

build=${TRACKCARVE_WIN32_BUILD:-build-win32}

for tool in build/make_sample_disc build/trackcarve; do
  if [[ ! -x $tool ]]; then
    echo "FAIL Linux build: $tool is missing; run scripts/install-deps.sh and scripts/build.sh first"
    echo "0 passed, 1 failed"
    exit 1
  fi
done
mkdir -p "$build"

seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

# stage NAME LIMIT LOG COMMAND...: a preparation step, quiet unless it fails.
# It counts as a check, so a broken toolchain still ends in the summary line.
passed=0
stage() {
  local name=$1 limit=$2 log=$3 t0=$EPOCHREALTIME rc=0
  shift 3
  timeout -k 10 "$limit" "$@" >"$log" 2>&1 </dev/null || rc=$?
  if ((rc != 0)); then
    ((rc == 124)) && echo "FAIL $name: timed out after $limit s" || echo "FAIL $name: status $rc"
    tail -n 30 "$log" | sed 's/^/    /'
    echo "    (all of it in $log)"
    echo "$passed passed, 1 failed"
    exit 1
  fi
  passed=$((passed + 1))
  echo "PASS $name ($(seconds_since "$t0") s)"
}

# A fresh machine installs packages and builds the libraries: some 6 min on
# a quiet 2-core machine, 22 min measured at a load average of 10 to 13.
# The limits leave room for a slow mirror and a busy machine without
# letting a stuck one hang CI.
stage "setup: mingw-w64, wine, the static libraries" 1800 "$build/setup.log" windows/setup.sh
# --fresh: toolchain flags are cached at the first configure; a change to
# mingw-i686.cmake must reach the build (the full rebuild takes seconds).
stage "cross-build: $build/trackcarve.exe" 600 "$build/build.log" bash -c '
  set -euo pipefail
  cmake --fresh -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE=windows/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTRACKCARVE_TESTS=OFF
  cmake --build "$1" -j "$(nproc)"' build "$build"
stage "libraries: zlib, libdeflate, Nettle, xxHash, liblzma, libzstd, bzip2, libFLAC, expat, libarchive (zip, 7z) under wine" \
  600 "$build/lib-check.log" windows/lib-check/run.sh "$build/lib-check"

# Each wine run has its own limit; this one bounds the whole. On TERM the
# script still stops wine and prints the summary line (counting these three).
TRACKCARVE_CHECKS_PASSED=$passed exec timeout -k 90 600 windows/test-under-wine.sh "$build/trackcarve.exe"
