#!/usr/bin/env bash
# Data-track benchmark: trackcarve extracting one ~300 MB MODE1/2352 track,
# timed side by side with `cp` of the same BIN and with Debian's `bchunk`
# writing the same track, interleaved (order rotated each round), ROUNDS
# rounds (default 5), medians. Also checks the .iso bytes and trackcarve's
# peak RSS for a 300 MB and a 30 MB track. Prints PASS/MISS per target and
# exits 0: it documents, it does not gate. Scratch files go to $BENCH_DIR
# (default /tmp/trackcarve-bench); TRACKCARVE=path times another binary.
#
#   bench/data_track.sh            # ROUNDS=15 bench/data_track.sh for more rounds
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sectors=${SECTORS:-128000}          # 128000 * 2352 = 301 MB
small_sectors=$((sectors / 10))     # 30 MB

need_packages bchunk time g++ diffutils
find_trackcarve
build_helpers

d=$bench_dir
cut_small() { head -c $((small_sectors * 2352)) "$d/data.bin" >"$d/small.bin"; }
make_once "data-$sectors" "$gen" data "$sectors" "$d/data.bin" "$d/data.expected.iso"
make_once "small-$sectors" cut_small
for name in data small; do
  printf 'FILE "%s.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' "$name" >"$d/$name.cue"
done

tc_out=$d/data/track1.iso      # trackcarve: x.cue -> x/
cp_out=$d/copy.bin
bchunk_out=$d/bchunk01.iso     # bchunk: basename + track number + .iso

# One function per command: removes its output (so no command pays for
# truncating an old file), flushes dirty pages, then runs it timed.
run_trackcarve() { rm -rf "$d/data"; sync; run_timed "$1" "$trackcarve" "$d/data.cue"; }
run_cp() { rm -f "$cp_out"; sync; run_timed "$1" cp "$d/data.bin" "$cp_out"; }
run_bchunk() { rm -f "$bchunk_out"; sync; run_timed "$1" bchunk "$d/data.bin" "$d/data.cue" "$d/bchunk"; }
commands=(trackcarve cp bchunk)

log "warming the page cache"
cat "$d/data.bin" "$d/small.bin" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done   # one untimed round

results=$d/data_results.txt
time_rounds "$results"

log "checking the .iso bytes"
if cmp -s "$tc_out" "$bchunk_out"; then same_bchunk=yes; else same_bchunk=NO; fi
if cmp -s "$tc_out" "$d/data.expected.iso"; then same_expected=yes; else same_expected=NO; fi
rm -f "$cp_out" "$bchunk_out"

log "peak RSS, 3 runs per size"
rss_of() {   # rss_of CUE: median peak RSS (KB) of 3 runs
  local cue=$1 i
  for i in 1 2 3; do
    rm -rf "${cue%.cue}"
    /usr/bin/time -f '%M' -o "$d/rss.out" "$trackcarve" "$cue" >/dev/null
    tail -n 1 "$d/rss.out"
  done | median
}
rss_big=$(rss_of "$d/data.cue")
rss_small=$(rss_of "$d/small.cue")
rm -rf "$d/small" "$d/data"

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
for c in "${commands[@]}"; do
  printf -v "${c}_wall" '%s' "$(col "$c" 2)"
  printf -v "${c}_min" '%s' "$(low "$c")"
  printf -v "${c}_cpu" '%s' "$(col "$c" 3)"
done
vs_cp=$(ratio "$trackcarve_wall" "$cp_wall")
vs_bchunk=$(ratio "$trackcarve_wall" "$bchunk_wall")
rss_growth=$((rss_big - rss_small))
row() { printf '  %-11s %13s %12s %14s\n' "$@"; }

echo
echo "== data track: $sectors sectors ($((sectors * 2352)) bytes BIN, $((sectors * 2048)) bytes ISO), $rounds rounds, $(date -u +%Y-%m-%d)"
row '' 'median wall s' 'min wall s' 'median CPU s'
for c in "${commands[@]}"; do
  w=${c}_wall m=${c}_min u=${c}_cpu
  row "$c" "${!w}" "${!m}" "${!u}"
done
echo "  (CPU = user + system; per-round figures in $results)"
echo "  trackcarve/cp      $vs_cp (target <= 1.0) $(verdict "$vs_cp" 1.0)   [min wall $(ratio "$trackcarve_min" "$cp_min"), CPU $(ratio "$trackcarve_cpu" "$cp_cpu")]"
echo "  trackcarve/bchunk  $vs_bchunk (target <= 0.6) $(verdict "$vs_bchunk" 0.6)   [min wall $(ratio "$trackcarve_min" "$bchunk_min"), CPU $(ratio "$trackcarve_cpu" "$bchunk_cpu")]"
echo "  .iso identical to bchunk's: $same_bchunk; to bytes 16..2063 of each sector: $same_expected  $([ "$same_bchunk$same_expected" = yesyes ] && echo PASS || echo MISS)"
echo "  peak RSS (/usr/bin/time %M): $rss_big KB for the $((sectors * 2352 / 1000000)) MB track, $rss_small KB for the $((small_sectors * 2352 / 1000000)) MB track:"
echo "    growth $rss_growth KB (target < 1024 KB) $(verdict "$rss_growth" 1023)"
