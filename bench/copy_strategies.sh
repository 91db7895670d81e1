#!/usr/bin/env bash
# What the data-track copy loop could gain: trackcarve, `cp`, and the
# stand-alone strategies of bench/copy_strategies.cpp on the ~300 MB BIN of
# bench/data_track.sh, interleaved, ROUNDS rounds (default 7), medians of wall
# and CPU time, each as a ratio to cp. Every output is checked against the
# expected ISO. Run bench/data_track.sh first (it makes the input).
#
#   bench/copy_strategies.sh
set -euo pipefail
ROUNDS=${ROUNDS:-7}
source "$(dirname "$0")/lib.sh"

need_packages time g++
find_trackcarve
d=$bench_dir
[ -e "$d/data.bin" ] && [ -e "$d/data.expected.iso" ] || die "no $d/data.bin: run bench/data_track.sh first"
build_helpers
g++ -O2 -std=c++20 -o "$d/copy_strategies" "$repo/bench/copy_strategies.cpp"

out=$d/strategy.out
run_one() {   # run_one NAME VAR
  rm -rf "$out" "$d/data" "$d/copy.bin"
  sync
  case $1 in
    trackcarve) run_timed "$2" "$trackcarve" "$d/data.cue" ;;
    cp) run_timed "$2" cp "$d/data.bin" "$d/copy.bin" ;;
    *) run_timed "$2" "$d/copy_strategies" "$1" "$d/data.bin" "$out" ;;
  esac
}
names=(trackcarve cp stdio64 stdio64nb stdio64a stdio64nba read64 writev64 cfr mmap)

cat "$d/data.bin" >/dev/null
for n in "${names[@]}"; do
  run_one "$n" ignored
  case $n in
    trackcarve) cmp "$d/data/track1.iso" "$d/data.expected.iso" ;;
    cp) ;;
    *) cmp "$out" "$d/data.expected.iso" || die "$n wrote wrong bytes" ;;
  esac
done

results=$d/strategy_results.txt
: >"$results"
for ((r = 0; r < ROUNDS; r++)); do
  for ((k = 0; k < ${#names[@]}; k++)); do
    n=${names[$(((r + k) % ${#names[@]}))]}
    run_one "$n" stats
    echo "$n $stats" >>"$results"
  done
done
rm -rf "$out" "$d/data" "$d/copy.bin"

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
cp_wall=$(col cp 2)
cp_cpu=$(col cp 3)
printf '\n== copy strategies, %d rounds, %s\n%-11s %9s %9s %9s %9s\n' "$ROUNDS" "$(date -u +%Y-%m-%d)" \
  name 'wall s' '/cp' 'CPU s' 'min wall'
for n in "${names[@]}"; do
  w=$(col "$n" 2)
  c=$(col "$n" 3)
  m=$(awk -v c="$n" '$1 == c { print $2 }' "$results" | sort -g | head -n 1)
  printf '%-11s %9s %9s %9s %9s\n' "$n" "$w" "$(ratio "$w" "$cp_wall")" "$c" "$m"
done
