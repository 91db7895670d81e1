#!/usr/bin/env bash
# Sets up, builds, makes the bundled sample disc image in sample/ and splits it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
rm -rf sample
build/make_sample_disc sample
build/trackcarve sample/sample.cue
echo
echo "== sample/sample/ holds:"
ls -l sample/sample
echo "== sample/sample/sample.toc:"
cat sample/sample/sample.toc
