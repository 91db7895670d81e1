#!/usr/bin/env bash
# Cross-builds windows/lib-check (lib_check.exe) against the prefix that
# windows/setup.sh filled, checks that it imports only KERNEL32.dll and
# msvcrt.dll, and runs it under Wine in a prefix of its own (removed after).
#   windows/lib-check/run.sh [BUILD_DIR]      (default build-win32/lib-check)
# Prints the imports and lib_check's lines; status 1 if anything failed.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(realpath -m "${1:-$here/../../build-win32/lib-check}")"

cmake --fresh -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/../mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
exe=$build/lib_check.exe

dlls=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' | sort | tr '\n' ' ')
echo "imports: $dlls"
if [[ $dlls != "KERNEL32.dll msvcrt.dll " ]]; then
  echo "lib-check: $exe imports more than KERNEL32.dll and msvcrt.dll" >&2
  exit 1
fi

export TRACKCARVE_WINEPREFIX="$build/wine32"
trap 'rm -rf "$TRACKCARVE_WINEPREFIX" "$TRACKCARVE_WINEPREFIX".*' EXIT
timeout -k 10 300 "$here/../run-wine.sh" "$exe" | tr -d '\r'
