#!/usr/bin/env bash
# What durable commits cost: an album (12 audio tracks, 40 min) split as
# trackcarve does it, every file flushed to the disk before its rename and
# the folder after (fsync), paired with the same binary under eatmydata,
# which makes every fsync a no-op: the same work without the flushes. Both
# with the default Ogg Vorbis and with --flac (a larger share of writing),
# interleaved, ROUNDS rounds (default 5), each into a fresh folder after a
# sync, so that neither run pays for the other's dirty pages. Each ratio is
# taken within a round, the median of the rounds judged. Checks that both
# write the same files. Under load, wall times mostly measure the other work
# on the machine; so one more run of each under strace adds up the wall
# time spent in fsync itself (strace -f -w -c), the steadier figure of what
# the flushes cost. Prints the load average before and after. Prints
# PASS/MISS and exits 0. Scratch files go to $BENCH_DIR/durability (default
# /tmp/trackcarve-bench/durability, ~1 GB while it runs); TRACKCARVE=path
# times another binary.
#
#   bench/durability.sh
set -euo pipefail
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
source "$(dirname "$0")/lib.sh"

need_packages eatmydata vorbis-tools g++ diffutils coreutils strace
find_trackcarve
build_helpers

d=$bench_dir/durability
mkdir -p "$d"
make_once durability-album "$gen" mixed-album "$d/album.bin" "$d/album.cue"

# run_split OUT_VAR NAME [eatmydata] ARGS...: a fresh output folder, the
# dirty pages of the round before written out first, then the timed split.
run_split() {
  local var=$1 name=$2
  shift 2
  rm -rf "${d:?}/$name" && mkdir -p "$d/$name"
  sync
  run_timed "$var" "$@" -j 2 -o "$d/$name" "$d/album.cue"
}
run_ogg() { run_split "$1" ogg "$trackcarve"; }
run_ogg_nosync() { run_split "$1" ogg_nosync eatmydata "$trackcarve"; }
run_flac() { run_split "$1" flac "$trackcarve" --flac; }
run_flac_nosync() { run_split "$1" flac_nosync eatmydata "$trackcarve" --flac; }

load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)
log "warming up"
cat "$d/album.bin" >/dev/null
commands=(ogg ogg_nosync flac flac_nosync)
results=$d/durability_results.txt
time_rounds "$results"
load_after=$(load)

# same_files A B: the two output folders hold the same files (.ogg decoded,
# the record, which holds times, left out).
same_files() {
  local a=$d/$1/album b=$d/$2/album f
  [ "$(cd "$a" && ls -A | grep -v '^.trackcarve-record$')" = "$(cd "$b" && ls -A | grep -v '^.trackcarve-record$')" ] ||
    { echo "NO (different names)"; return; }
  for f in "$a"/*; do
    case $f in
      *.ogg) cmp -s <(oggdec -Q -R -o - "$f") <(oggdec -Q -R -o - "$b/${f##*/}") || { echo "NO (${f##*/})"; return; } ;;
      *) cmp -s "$f" "$b/${f##*/}" || { echo "NO (${f##*/})"; return; } ;;
    esac
  done
  echo yes
}
same_ogg=$(same_files ogg ogg_nosync)
same_flac=$(same_files flac flac_nosync)

# fsync_time NAME ARGS...: "calls seconds" of fsync and fdatasync, wall time
# inside the calls, over one traced split.
fsync_time() {
  local name=$1
  shift
  rm -rf "${d:?}/$name" && mkdir -p "$d/$name"
  sync
  strace -f -w -c -e trace=fsync,fdatasync -o "$d/$name.strace" "$trackcarve" "$@" -j 2 -o "$d/$name" "$d/album.cue" >/dev/null
  awk '$NF == "total" { print $(NF - 1) + 0, $2 }' "$d/$name.strace"
}
log "tracing the flushes"
read -r ogg_calls ogg_fsync < <(fsync_time ogg_traced)
read -r flac_calls flac_fsync < <(fsync_time flac_traced --flac)

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
# paired A B: the median over the rounds of A's wall time / B's in one round.
paired() {
  awk -v a="$1" -v b="$2" '$1 == a { x[++n] = $2 } $1 == b { y[++m] = $2 }
    END { for (i = 1; i <= n && i <= m; i++) print x[i] / y[i] }' "$results" | median
}
row() { printf '  %-12s %13s %12s %14s\n' "$@"; }

echo
echo "== durable commits: the album (12 audio tracks, 40:06) at -j 2, $rounds rounds, $(date -u '+%Y-%m-%d %H:%M') UTC"
echo "  load average before: $load_before; after: $load_after"
row '' 'median wall s' 'min wall s' 'median CPU s'
for c in "${commands[@]}"; do
  row "$c" "$(col "$c" 2)" "$(low "$c")" "$(col "$c" 3)"
done
echo "  (nosync = the same binary under eatmydata; CPU = user + system; per-round figures in $results)"
ogg_ratio=$(paired ogg ogg_nosync)
flac_ratio=$(paired flac flac_nosync)
printf '  Ogg:  durable / no fsync wall %.3f (median of the rounds; target <= 1.05) %s   [medians %s, CPU %s]\n' \
  "$ogg_ratio" "$(verdict "$ogg_ratio" 1.05)" "$(ratio "$(col ogg 2)" "$(col ogg_nosync 2)")" \
  "$(ratio "$(col ogg 3)" "$(col ogg_nosync 3)")"
printf '  FLAC: durable / no fsync wall %.3f (median of the rounds)   [medians %s, CPU %s]\n' \
  "$flac_ratio" "$(ratio "$(col flac 2)" "$(col flac_nosync 2)")" "$(ratio "$(col flac 3)" "$(col flac_nosync 3)")"
echo "  same files with and without the flushes: Ogg $same_ogg, FLAC $same_flac"
echo "  wall time inside fsync, one traced split each: Ogg $ogg_calls calls, $ogg_fsync s ($(ratio "$ogg_fsync" "$(col ogg_nosync 2)") of the no-fsync median wall); FLAC $flac_calls calls, $flac_fsync s ($(ratio "$flac_fsync" "$(col flac_nosync 2)"))"
rm -rf "${d:?}"/ogg "$d"/ogg_nosync "$d"/flac "$d"/flac_nosync "$d"/ogg_traced "$d"/flac_traced
