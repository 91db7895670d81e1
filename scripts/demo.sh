#!/usr/bin/env bash
# Sets up, builds, makes the bundled sample disc image in sample/ and splits it.
# Says what it is doing while it sets up and builds (on stderr); the split's
# own output follows.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "demo.sh: $*" >&2; }
say "checking the packages trackcarve needs (scripts/install-deps.sh)..."
scripts/install-deps.sh
say "building trackcarve and its tests into build/ (about 3 minutes on 2 cores the first time)..."
scripts/build.sh >/dev/null
say "making the sample disc image in sample/ and splitting it"
rm -rf sample
build/make_sample_disc sample
build/trackcarve sample/sample.cue
echo
echo "== sample/sample/ holds:"
ls -l sample/sample
echo "== sample/sample/sample.toc:"
cat sample/sample/sample.toc
