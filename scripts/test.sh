#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
ctest --test-dir "${BUILD_DIR:-build}" -j "$(nproc)" --output-on-failure
