#!/usr/bin/env bash
# Library benchmark: calls over a folder of 100 small discs, as a collection
# is converted. Each disc is one BIN and its sheet, made by
# make_bench_input.cpp (`small`): a 2 MB MODE1 data track (892 sectors) and
# two 10 s audio tracks, 5.6 MB of BIN; the 100 are copies under their own
# names (disc001.cue ... disc100.cue), 560 MB in all, read into the page
# cache before the timed calls. Each measurement is a section of its own:
#
#   jobs: `trackcarve -j 2 disc*.cue` against `trackcarve -j 1 disc*.cue`,
#         interleaved (order rotated each round), ROUNDS rounds (default 3;
#         a -j 1 call takes some 25 s). Target: -j 2 / -j 1 median wall
#         <= 0.55. Then: whether both wrote the same files (TOC, .iso and
#         emulator sheet byte for byte, each .ogg decoded with `oggdec -R`),
#         the peak RSS (ru_maxrss) of each against a -j 2 call over one disc
#         (memory must not grow with the sheets of a call: target <= +1024
#         KB), and how the machine's cores were spent during each call (from
#         /proc/stat: idle, taken by other processes, stolen by the
#         hypervisor). BASELINE=path also times that binary's -j 2 in the
#         same rounds (an older build, say).
#
#   skip_done: `trackcarve -j 2 --skip-done -o OUT disc*.cue` into an empty
#         OUT, then the same command again, which finds all the discs done
#         and skips them; ROUNDS rounds, medians. Target: rerun / first run
#         wall <= 0.02. Checks that the rerun said "Skipping" for every disc
#         and changed no file.
#
# The load average (/proc/loadavg) is printed with each figure; trackcarve
# itself adds about one to it per job. Prints PASS/MISS per target and exits
# 0. Scratch files go to $BENCH_DIR/library (default
# /tmp/trackcarve-bench/library, ~1 GB while it runs); TRACKCARVE=path times
# another binary.
#
#   bench/library.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

rounds=${ROUNDS:-3}
baseline=${BASELINE:-}
disc_count=100

need_packages vorbis-tools g++ diffutils coreutils
bench_dir=$(cd "$bench_dir" && pwd)   # the calls run inside the discs' folder
find_trackcarve
build_helpers

d=$bench_dir/library
discs=$d/discs
mkdir -p "$d"

# The library: disc001 from the generator, the others copies of it.
make_library() {
  local n name
  rm -rf "$discs"
  mkdir -p "$discs"
  "$gen" small "$discs/disc001.bin" "$discs/disc001.cue"
  for ((n = 2; n <= disc_count; n++)); do
    printf -v name 'disc%03d' "$n"
    cp "$discs/disc001.bin" "$discs/$name.bin"
    sed "s/disc001\.bin/$name.bin/" "$discs/disc001.cue" >"$discs/$name.cue"
  done
}
make_once library-discs make_library
sheets=()
for ((n = 1; n <= disc_count; n++)); do
  printf -v name 'disc%03d.cue' "$n"
  sheets+=("$name")
done

load() { cut -d' ' -f1-3 /proc/loadavg; }
loads=$d/loads.txt             # "call 1-minute-load" after each timed call
# "call idle others steal" per timed call, in core-seconds, from the
# machine's CPU counters (/proc/stat) around it: time no process ran on a
# core, time other processes ran (all busy time less trackcarve's CPU), and
# time the hypervisor gave the cores to another guest.
cpu_shares=$d/cpu_shares.txt
tick=$(getconf CLK_TCK)
cpu_counters() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $5 + $6, $9 }' /proc/stat; }

# call_library OUT_VAR NAME BINARY ARGS...: removes the output folders a call
# left, times BINARY ARGS... in the discs' folder, and keeps its output
# folders in $d/NAME (for the comparison).
call_library() {
  local var=$1 name=$2 before after
  shift 2
  rm -rf "${d:?}/$name" "$discs"/disc[0-9][0-9][0-9]/
  sync
  before=$(cpu_counters)
  cd "$discs"
  run_timed "$var" "$@"
  cd - >/dev/null
  after=$(cpu_counters)
  mkdir -p "$d/$name"
  mv "$discs"/disc[0-9][0-9][0-9]/ "$d/$name/"
  echo "$name $(cut -d' ' -f1 /proc/loadavg)" >>"$loads"
  awk -v b="$before" -v a="$after" -v t="$tick" -v s="${!var}" -v c="$name" 'BEGIN {
    split(b, x, " "); split(a, y, " "); split(s, m, " ")
    printf "%s %.2f %.2f %.2f\n", c, (y[2] - x[2]) / t, (y[1] - x[1]) / t - m[2], (y[3] - x[3]) / t }' >>"$cpu_shares"
}

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$3" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$2" | sort -g | head -n 1; }
load_range() { awk -v c="$1" '$1 == c { if (n++ == 0 || $2 < lo) lo = $2; if ($2 > hi) hi = $2 } END { printf "%s-%s", lo, hi }' "$loads"; }
row() { printf '  %-10s %13s %12s %14s %16s\n' "$@"; }

# same_folders A B: "yes" when the output folders in $d/A and $d/B hold the
# same files (their records apart).
same_folders() {
  local a=$d/$1 b=$d/$2 f name
  [ "$(cd "$a" && find . | sort)" = "$(cd "$b" && find . | sort)" ] || { echo "NO (different file names)"; return; }
  while IFS= read -r f; do
    name=${f#"$a"/}
    case $name in
      */.trackcarve-record) ;;   # it holds the times the files were written
      *.ogg) cmp -s <(oggdec -Q -R -o - "$f") <(oggdec -Q -R -o - "$b/$name") || { echo "NO ($name decodes differently)"; return; } ;;
      *) cmp -s "$f" "$b/$name" || { echo "NO ($name differs)"; return; } ;;
    esac
  done < <(find "$a" -type f)
  echo "yes ($(find "$a" -type f | wc -l) files in $(find "$a" -mindepth 1 -type d | wc -l) folders)"
}

log "warming up"
cat "$discs"/*.bin >/dev/null
: >"$loads"
: >"$cpu_shares"
load_start=$(load)

# == jobs: -j 2 against -j 1 over the whole library ==
run_j1() { call_library "$1" j1 "$trackcarve" -j 1 "${sheets[@]}"; }
run_j2() { call_library "$1" j2 "$trackcarve" -j 2 "${sheets[@]}"; }
run_base_j2() { call_library "$1" base_j2 "$baseline" -j 2 "${sheets[@]}"; }
run_one_j2() { call_library "$1" one_j2 "$trackcarve" -j 2 disc001.cue; }
commands=(j1 j2)
[ -n "$baseline" ] && commands+=(base_j2)
jobs_results=$d/jobs_results.txt
time_rounds "$jobs_results"
one_results=$d/one_results.txt
: >"$one_results"
for ((r = 0; r < rounds; r++)); do
  run_one_j2 stats
  echo "one_j2 $stats" >>"$one_results"
done
load_jobs=$(load)
log "comparing the files of -j 1 and -j 2"
same_jobs=$(same_folders j1 j2)

echo
echo "== trackcarve over $disc_count small discs on $(nproc) CPUs online; load average: $load_start at the start, $load_jobs after the jobs rounds"
echo
echo "== jobs: -j 2 disc*.cue / -j 1 disc*.cue, $rounds rounds, $(date -u +%Y-%m-%d)"
row '' 'median wall s' 'min wall s' 'median CPU s' 'median RSS KB'
for c in "${commands[@]}"; do
  row "$c" "$(col "$c" 2 "$jobs_results")" "$(low "$c" "$jobs_results")" "$(col "$c" 3 "$jobs_results")" \
    "$(col "$c" 4 "$jobs_results")"
done
row one_j2 "$(col one_j2 2 "$one_results")" "$(low one_j2 "$one_results")" "$(col one_j2 3 "$one_results")" \
  "$(col one_j2 4 "$one_results")"
w1=$(col j1 2 "$jobs_results") w2=$(col j2 2 "$jobs_results")
c1=$(col j1 3 "$jobs_results") c2=$(col j2 3 "$jobs_results")
vs=$(ratio "$w2" "$w1")
growth=$(($(col j2 4 "$jobs_results" | cut -d. -f1) - $(col one_j2 4 "$one_results" | cut -d. -f1)))
for c in "${commands[@]}"; do
  echo "  $c: 1-minute load after each call $(load_range "$c"); medians of the machine's core-seconds during a call:" \
    "$(col "$c" 2 "$cpu_shares") idle, $(col "$c" 3 "$cpu_shares") to other processes, $(col "$c" 4 "$cpu_shares") stolen"
done
echo "  -j 2 / -j 1 wall  $vs (target <= 0.55) $(verdict "$vs" 0.55)   [min wall $(ratio "$(low j2 "$jobs_results")" "$(low j1 "$jobs_results")"), CPU $(ratio "$c2" "$c1"); CPU/wall -j 1 $(ratio "$c1" "$w1"), -j 2 $(ratio "$c2" "$w2")]"
[ -n "$baseline" ] && echo "  -j 2 / baseline's -j 2 wall  $(ratio "$w2" "$(col base_j2 2 "$jobs_results")")"
echo "  peak RSS of -j 2 over $disc_count discs - over one disc  $growth KB (target <= 1024 KB) $(verdict "$growth" 1024)"
echo "  same files from -j 1 and -j 2: $same_jobs"
echo "  (CPU = user + system from wait4; per-round figures in $jobs_results)"
rm -rf "${d:?}"/j1 "$d"/j2 "$d"/base_j2 "$d"/one_j2

# == skip_done: a rerun over a library split already ==
# Every file of a folder tree with its size and time, to tell a rerun that
# wrote nothing.
listing() { find "$1" -type f -printf '%P %s %T@\n' | sort; }

out=$d/skip_out
skip_results=$d/skip_done.txt
call=("$trackcarve" -j 2 --skip-done -o "$out" "$discs"/disc*.cue)
: >"$skip_results"
load_skip_start=$(load)
log "skip_done: $rounds rounds"
for ((r = 1; r <= rounds; r++)); do
  rm -rf "$out"
  sync
  run_timed first "${call[@]}"
  before=$(listing "$out")
  run_timed rerun "${call[@]}"
  echo "first $first" >>"$skip_results"
  echo "rerun $rerun" >>"$skip_results"
done
skipped=$("${call[@]}" | grep -c '^Skipping ' || true)
[ "$(listing "$out")" = "$before" ] && unchanged=yes || unchanged=NO
w1=$(col first 2 "$skip_results") w2=$(col rerun 2 "$skip_results")
vs=$(ratio "$w2" "$w1")
echo
echo "== skip_done: a --skip-done rerun / the first run, $rounds rounds; load average $load_skip_start before, $(load) after"
row '' 'median wall s' 'min wall s' 'median CPU s' 'median RSS KB'
for c in first rerun; do
  row "$c" "$(col "$c" 2 "$skip_results")" "$(low "$c" "$skip_results")" "$(col "$c" 3 "$skip_results")" \
    "$(col "$c" 4 "$skip_results")"
done
echo "  rerun / first run wall $vs (target <= 0.02) $(verdict "$vs" 0.02)"
echo "  the rerun skipped $skipped of $disc_count discs; files unchanged by it: $unchanged"
echo "  (per-round figures in $skip_results)"
rm -rf "$out"
