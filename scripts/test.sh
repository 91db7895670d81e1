#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
ctest --test-dir "${BUILD_DIR:-build}" -j "$(nproc)" --output-on-failure
