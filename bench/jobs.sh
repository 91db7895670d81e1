#!/usr/bin/env bash
# Jobs benchmark: trackcarve -j 2 against -j 1 on this machine, interleaved
# (order rotated each round), medians, on two discs made by
# make_bench_input.cpp, each one BIN and its sheet:
#   mixed: one 50 MB MODE1 data track and 12 audio tracks of 1 to 6 minutes
#          (40 minutes of audio) in a shuffled order; MIXED_ROUNDS rounds
#          (default ROUNDS, else 3; a -j 1 run takes some 25 s);
#   many:  99 short tracks (10 s of data, 98 audio tracks of 2 to 6 s);
#          MANY_ROUNDS rounds (default ROUNDS, else 5).
# Then: whether -j 1 and -j 2 wrote the same files (TOC, .iso and emulator
# sheet byte for byte, each .ogg decoded with `oggdec -R`), peak RSS
# (ru_maxrss) of each, when the tracks of the last -j 2 run of the mixed disc
# ended (file times), which shows how evenly the two writers were loaded, and
# how the machine's cores were spent during the runs (/proc/stat): idle,
# given to other processes, or stolen by the hypervisor. The load average
# (/proc/loadavg) is printed with each figure; trackcarve itself adds about
# one to it per job. Prints PASS/MISS per target and exits 0. Scratch files
# go to $BENCH_DIR/jobs (default /tmp/trackcarve-bench/jobs, ~550 MB);
# TRACKCARVE=path times another binary.
#
#   bench/jobs.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

mixed_rounds=${MIXED_ROUNDS:-${ROUNDS:-3}}
many_rounds=${MANY_ROUNDS:-${ROUNDS:-5}}

need_packages vorbis-tools time g++ diffutils coreutils
find_trackcarve
build_helpers

d=$bench_dir/jobs
mkdir -p "$d"
make_once jobs-mixed "$gen" mixed "$d/mixed.bin" "$d/mixed.cue"
make_once jobs-many "$gen" many "$d/many.bin" "$d/many.cue"

load() { cut -d' ' -f1-3 /proc/loadavg; }
loads=$d/loads.txt   # "command 1-minute-load" after each timed run
# "command idle others steal" per timed run, in core-seconds, from the
# machine's CPU counters (/proc/stat) around it: time no process ran on a
# core, time other processes ran (all busy time less trackcarve's CPU), and
# time the hypervisor gave the cores to another guest.
cpu_shares=$d/cpu_shares.txt
tick=$(getconf CLK_TCK)
cpu_counters() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $5 + $6, $9 }' /proc/stat; }

# run_DISC_jN: splits the disc with -j N into $d/DISC, then keeps the files
# as $d/DISC.jN (for the comparison) with $d/DISC.jN.start marking the start.
split_disc() {   # split_disc OUT_VAR DISC JOBS
  local out=$d/$2.j$3 before after
  rm -rf "${d:?}/$2" "$out"
  sync
  touch "$out.start"
  before=$(cpu_counters)
  run_timed "$1" "$trackcarve" -j "$3" "$d/$2.cue"
  after=$(cpu_counters)
  mv "$d/$2" "$out"
  echo "$2_j$3 $(cut -d' ' -f1 /proc/loadavg)" >>"$loads"
  awk -v b="$before" -v a="$after" -v t="$tick" -v s="${!1}" -v c="$2_j$3" 'BEGIN {
    split(b, x, " "); split(a, y, " "); split(s, m, " ")
    printf "%s %.2f %.2f %.2f\n", c, (y[2] - x[2]) / t, (y[1] - x[1]) / t - m[2], (y[3] - x[3]) / t }' >>"$cpu_shares"
}
run_mixed_j1() { split_disc "$1" mixed 1; }
run_mixed_j2() { split_disc "$1" mixed 2; }
run_many_j1() { split_disc "$1" many 1; }
run_many_j2() { split_disc "$1" many 2; }

log "warming up"
cat "$d/mixed.bin" "$d/many.bin" >/dev/null
: >"$loads"
run_many_j1 ignored
run_many_j2 ignored

load_start=$(load)
: >"$loads"
: >"$cpu_shares"
rounds=$many_rounds
commands=(many_j1 many_j2)
many_results=$d/many_results.txt
time_rounds "$many_results"
load_many=$(load)

rounds=$mixed_rounds
commands=(mixed_j1 mixed_j2)
mixed_results=$d/mixed_results.txt
time_rounds "$mixed_results"
load_end=$(load)

# same_files DISC: "yes" when -j 1 and -j 2 wrote the same files.
same_files() {
  local a=$d/$1.j1 b=$d/$1.j2 f name
  [ "$(ls "$a")" = "$(ls "$b")" ] || { echo "NO (different file names)"; return; }
  for f in "$a"/*; do
    name=${f##*/}
    case $name in
      *.ogg) cmp -s <(oggdec -Q -R -o - "$f") <(oggdec -Q -R -o - "$b/$name") || { echo "NO ($name decodes differently)"; return; } ;;
      *) cmp -s "$f" "$b/$name" || { echo "NO ($name differs)"; return; } ;;
    esac
  done
  echo "yes ($(ls "$a" | wc -l) files)"
}
log "comparing the files of -j 1 and -j 2"
same_mixed=$(same_files mixed)
same_many=$(same_files many)

# When each track of the last -j 2 run of the mixed disc ended, in seconds
# from its start, in the order they ended. With two writers the last two to
# end were on different writers: the gap between them is time one core sat
# idle.
ends=$(for f in "$d"/mixed.j2/track*; do
  awk -v t="$(stat -c %.9Y "$f")" -v s="$(stat -c %.9Y "$d/mixed.j2.start")" -v n="${f##*/}" 'BEGIN { printf "%.2f %s\n", t - s, n }'
done | sort -g)
idle_tail=$(echo "$ends" | tail -n 2 | awk 'NR == 1 { a = $1 } NR == 2 { printf "%.2f", $1 - a }')

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$3" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$2" | sort -g | head -n 1; }
load_range() { awk -v p="$1" 'index($1, p) == 1 { if (n++ == 0 || $2 < lo) lo = $2; if ($2 > hi) hi = $2 } END { printf "%s-%s", lo, hi }' "$loads"; }
row() { printf '  %-6s %13s %12s %14s %16s\n' "$@"; }
report() {   # report DISC RESULTS ROUNDS WALL_LIMIT DESCRIPTION
  local disc=$1 results=$2 j w1 w2 c1 c2 r1 r2 vs growth
  echo
  echo "== $disc: $5, $3 rounds, $(date -u +%Y-%m-%d)"
  row '' 'median wall s' 'min wall s' 'median CPU s' 'median RSS KB'
  for j in 1 2; do
    row "-j $j" "$(col "${disc}_j$j" 2 "$results")" "$(low "${disc}_j$j" "$results")" \
      "$(col "${disc}_j$j" 3 "$results")" "$(col "${disc}_j$j" 4 "$results")"
  done
  w1=$(col "${disc}_j1" 2 "$results") w2=$(col "${disc}_j2" 2 "$results")
  c1=$(col "${disc}_j1" 3 "$results") c2=$(col "${disc}_j2" 3 "$results")
  r1=$(col "${disc}_j1" 4 "$results") r2=$(col "${disc}_j2" 4 "$results")
  vs=$(ratio "$w2" "$w1")
  growth=$((${r2%.*} - ${r1%.*}))
  echo "  1-minute load after each run: $(load_range "$disc") (trackcarve adds about 1 per job)"
  for j in 1 2; do
    echo "  -j $j, medians of the machine's core-seconds during a run: $(col "${disc}_j$j" 2 "$cpu_shares") idle," \
      "$(col "${disc}_j$j" 3 "$cpu_shares") to other processes, $(col "${disc}_j$j" 4 "$cpu_shares") stolen"
  done
  echo "  -j 2 / -j 1 wall  $vs (target <= $4) $(verdict "$vs" "$4")   [min wall $(ratio "$(low "${disc}_j2" "$results")" "$(low "${disc}_j1" "$results")"), CPU $(ratio "$c2" "$c1"); CPU/wall -j 1 $(ratio "$c1" "$w1"), -j 2 $(ratio "$c2" "$w2")]"
  echo "  peak RSS -j 2 - -j 1  $growth KB (target <= 3072 KB) $(verdict "$growth" 3072)"
}

echo
echo "== trackcarve -j 1 vs -j 2 on $(nproc) CPUs online; load average: $load_start at the start, $load_many after the 99-track disc, $load_end at the end"
report mixed "$mixed_results" "$mixed_rounds" 0.55 \
  "1 data track (21260 sectors, 50 MB) + 12 audio tracks (40:06), $(stat -c %s "$d/mixed.bin") bytes"
echo "  same files from -j 1 and -j 2: $same_mixed"
echo "  last -j 2 run, tracks ended at (s from its start):" $(echo "$ends" | awk '{ sub(/^track/, "", $2); sub(/\..*/, "", $2); printf "%s:%s ", $2, $1 }')
echo "    the last two ended $idle_tail s apart (one writer idle that long)"
report many "$many_results" "$many_rounds" 1.0 \
  "99 tracks (750 data sectors + 98 audio tracks of 2 to 6 s), $(stat -c %s "$d/many.bin") bytes"
echo "  same files from -j 1 and -j 2: $same_many"
echo "  (CPU = user + system from wait4; per-round figures in $mixed_results and $many_results)"
rm -rf "$d"/mixed.j1 "$d"/mixed.j2 "$d"/many.j1 "$d"/many.j2 "$d"/*.start
