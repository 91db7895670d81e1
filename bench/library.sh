#!/usr/bin/env bash
# Library benchmark: one call of trackcarve over a folder of small discs,
# DISCS of them (default 100), each one BIN and its sheet: a 2 MB MODE1 data
# track (1000 sectors, 2,048,000 bytes of .iso) and two 10 s audio tracks
# (the music of make_bench_input.cpp), 5.9 MB a disc, 588 MB in all. The
# discs are made once into $BENCH_DIR/small-discs/discs and reused.
#
# Each measurement is a function measure_NAME, run for every NAME in
# `measurements` (MEASUREMENTS="a b" picks some), that prints its own
# figures with PASS/MISS per target; the load average (/proc/loadavg) is
# printed before and after each. Exits 0.
#
#   skip_done  `trackcarve -j 2 --skip-done -o OUT *.cue` into an empty OUT,
#              then the same command again, which finds all the discs done
#              and skips them; ROUNDS rounds (default 3), medians. Target:
#              rerun / first run wall <= 0.02. Checks that the rerun said
#              "Skipping" for every disc and changed no file.
#
#   bench/library.sh
set -euo pipefail
source "$(dirname "$0")/lib.sh"

rounds=${ROUNDS:-3}
discs=${DISCS:-100}
measurements=(${MEASUREMENTS:-skip_done})

need_packages g++ coreutils
find_trackcarve
build_helpers

d=$bench_dir/small-discs
mkdir -p "$d"

# The discs: one BIN of data then 20 s of music, cut in two by the sheet.
make_discs() {
  rm -rf "$d/discs"
  mkdir -p "$d/discs"
  "$gen" data 1000 "$d/data.raw"
  "$gen" audio 20 "$d/audio.raw"
  local n name
  for ((n = 1; n <= discs; n++)); do
    printf -v name 'disc%03d' "$n"
    cat "$d/data.raw" "$d/audio.raw" >"$d/discs/$name.bin"
    printf 'FILE "%s.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:13:25\n  TRACK 03 AUDIO\n    INDEX 01 00:23:25\n' \
      "$name" >"$d/discs/$name.cue"
  done
  rm -f "$d/data.raw" "$d/audio.raw"
}
make_once "small-discs-$discs" make_discs

load() { cut -d' ' -f1-3 /proc/loadavg; }
col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$3" | median; }

# Every file of a folder tree with its size and time, to tell a rerun that
# wrote nothing.
listing() { find "$1" -type f -printf '%P %s %T@\n' | sort; }

measure_skip_done() {
  local out=$d/out results=$d/skip_done.txt r first rerun skipped before
  local -a call=("$trackcarve" -j 2 --skip-done -o "$out" "$d"/discs/*.cue)
  : >"$results"
  log "skip_done: $rounds rounds"
  for ((r = 1; r <= rounds; r++)); do
    rm -rf "$out"
    sync
    run_timed first "${call[@]}"
    before=$(listing "$out")
    run_timed rerun "${call[@]}"
    echo "first $first" >>"$results"
    echo "rerun $rerun" >>"$results"
    log "  round $r: first $first, rerun $rerun"
  done
  skipped=$("${call[@]}" | grep -c '^Skipping ' || true)
  [ "$(listing "$out")" = "$before" ] && unchanged=yes || unchanged=NO
  local w1 w2 vs
  w1=$(col first 2 "$results") w2=$(col rerun 2 "$results")
  vs=$(ratio "$w2" "$w1")
  echo "  first run: median wall $w1 s, CPU $(col first 3 "$results") s, peak RSS $(col first 4 "$results") KB"
  echo "  rerun:     median wall $w2 s, CPU $(col rerun 3 "$results") s, peak RSS $(col rerun 4 "$results") KB"
  echo "  rerun / first run wall $vs (target <= 0.02) $(verdict "$vs" 0.02)"
  echo "  the rerun skipped $skipped of $discs discs; files unchanged by it: $unchanged"
  echo "  (per-round figures in $results)"
}

echo "== trackcarve over a library of $discs small discs on $(nproc) CPUs online, $(date -u '+%Y-%m-%d %H:%M UTC')"
for m in "${measurements[@]}"; do
  echo
  echo "== $m (load average before: $(load))"
  measure_"$m"
  echo "   load average after: $(load)"
done
