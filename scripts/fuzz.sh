#!/usr/bin/env bash
# Builds a fuzzer in build-fuzz/ (clang, libFuzzer, ASan, UBSan) and runs it
# for SECONDS (default 60) on one core, starting from a copy of its seed
# corpus. Inputs it finds go to a scratch folder, never into the repository.
# Fails on any crash, leak, timeout, out-of-memory or sanitizer report; the
# input that caused it is kept and its path printed.
#
#   scripts/fuzz.sh [TARGET] [SECONDS]
#
# TARGET: fuzz_cue_sheet (the default: the CUE reader and the layout, seeds
# in tests/fuzz/corpus/), fuzz_whole_run (the whole program on a scratch
# folder, seeds in tests/fuzz/corpus_whole_run/) or fuzz_records (the
# readers of a lossless split's manifest and of a DAT, seeds in
# tests/fuzz/corpus_records/).
# FUZZ_KEEP=1 keeps the scratch folder (grown corpus and log) after a clean run.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

target=fuzz_cue_sheet
if [ $# -gt 0 ] && ! [[ $1 =~ ^[0-9]+$ ]]; then
  target=$1
  shift
fi
seconds=${1:-60}
case $target in
  fuzz_cue_sheet) corpus=tests/fuzz/corpus dictionary=tests/fuzz/cue.dict max_len=20000 ;;
  fuzz_whole_run) corpus=tests/fuzz/corpus_whole_run dictionary=tests/fuzz/whole_run.dict max_len=4096 ;;
  fuzz_records) corpus=tests/fuzz/corpus_records dictionary=tests/fuzz/records.dict max_len=8192 ;;
  *) seconds=bad ;;
esac
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)) || [ $# -gt 1 ]; then
  echo "usage: scripts/fuzz.sh [fuzz_cue_sheet|fuzz_whole_run|fuzz_records] [SECONDS]" >&2
  exit 2
fi
for tool in clang clang++ cmake; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool not found (scripts/install-deps.sh installs it)" >&2; exit 2; }
done

build_dir=build-fuzz
if [ -f "$build_dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$build_dir/CMakeCache.txt"; then
  echo "fuzz.sh: $build_dir/ was configured without clang; remove it and run again" >&2
  exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DTRACKCARVE_FUZZ=ON -DTRACKCARVE_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target "$target" -j "$(nproc)" >/dev/null
fuzzer=$PWD/$build_dir/tests/fuzz/$target
dictionary=$PWD/$dictionary

work=$(mktemp -d "${TMPDIR:-/tmp}/trackcarve-$target.XXXXXX")
mkdir "$work/corpus" "$work/artifacts"
cp "$corpus"/* "$work/corpus/"
log=$work/fuzz.log

echo "fuzz.sh: running $fuzzer for ${seconds}s in $work"
status=0
# TMPDIR: a fuzzer's scratch folder lands in $work too, even when a crash skips its clean-up.
(cd "$work" && TMPDIR="$work" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$fuzzer" corpus \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
    -dict="$dictionary" -artifact_prefix="$work/artifacts/" \
    -print_final_stats=1 >"$log" 2>&1) || status=$?
# A sanitizer report that did not end the process still counts.
if ((status == 0)) && { grep -qE '^(==[0-9]+==ERROR|SUMMARY: )|runtime error: ' "$log" ||
                         compgen -G "$work/artifacts/*" >/dev/null; }; then
  status=1
fi

grep -E '^#[0-9]+' "$log" | tail -n 1 || true
grep -E '^Done [0-9]+ runs|^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
echo "corpus: $(find "$work/corpus" -type f | wc -l) inputs"

if ((status != 0)); then
  echo "fuzz.sh: FAILED (exit status $status); the end of the log:" >&2
  tail -n 60 "$log" >&2
  echo "fuzz.sh: log, corpus and failing inputs kept in $work" >&2
  ls -l "$work/artifacts" >&2
  exit 1
fi
if [ -n "${FUZZ_KEEP:-}" ]; then
  echo "fuzz.sh: kept $work"
else
  rm -rf "$work"
fi
