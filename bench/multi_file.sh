#!/usr/bin/env bash
# Multi-FILE benchmark: one disc of 12 MODE1/2352 data tracks (128000
# sectors, 301 MB), split once from a single BIN and once from one BIN per
# track (the same bytes cut at the track boundaries), interleaved (order
# rotated each round), ROUNDS rounds (default 5), medians. Data tracks, not
# audio: copying is I/O-bound, so the cost of reading across files is not
# hidden behind the encoder. Checks that both give the same TOC and .iso
# files. Prints PASS/MISS and exits 0. Scratch files go to $BENCH_DIR.
#
#   bench/multi_file.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sectors=${SECTORS:-128000}
tracks=12
per_track=$((sectors / tracks))   # the last track takes the rest

need_packages g++ diffutils coreutils
find_trackcarve
build_helpers

d=$bench_dir/multi
mkdir -p "$d"
make_once "data-$sectors" "$gen" data "$sectors" "$bench_dir/data.bin" "$bench_dir/data.expected.iso"

split_disc() {
  cp "$bench_dir/data.bin" "$d/single.bin"
  : >"$d/single.cue"
  printf 'FILE "single.bin" BINARY\n' >>"$d/single.cue"
  : >"$d/files.cue"
  local n first count msf
  for ((n = 1; n <= tracks; n++)); do
    first=$(((n - 1) * per_track))
    count=$((n == tracks ? sectors - first : per_track))
    dd if="$bench_dir/data.bin" of="$d/track $n.bin" bs=2352 skip="$first" count="$count" status=none
    printf -v msf '%02d:%02d:%02d' $((first / 4500)) $((first / 75 % 60)) $((first % 75))
    printf '  TRACK %02d MODE1/2352\n    INDEX 01 %s\n' "$n" "$msf" >>"$d/single.cue"
    printf 'FILE "track %d.bin" BINARY\n  TRACK %02d MODE1/2352\n    INDEX 01 00:00:00\n' "$n" "$n" >>"$d/files.cue"
  done
}
make_once "multi-$sectors" split_disc

# How a file's pages entered the page cache changes how fast they read back:
# the kernel picks page sizes as its read-ahead window ramps up, afresh in
# each file, so twelve small files read some 5-10 % slower than one large
# one even for `cat`. Drop the cache and read the single BIN in the same
# twelve pieces, each through a new open, so both inputs are cached alike;
# `cat` of each input is timed as the control.
warm_alike() {
  sync
  echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || log "warning: cannot drop the page cache; the inputs may be cached unevenly"
  local n first count
  for ((n = 1; n <= tracks; n++)); do
    first=$(((n - 1) * per_track))
    count=$((n == tracks ? sectors - first : per_track))
    dd if="$d/single.bin" of=/dev/null bs=2352 skip="$first" count="$count" status=none
    cat "$d/track $n.bin" >/dev/null
  done
}
log "warming the page cache"
warm_alike

run_single() { rm -rf "$d/single"; sync; run_timed "$1" "$trackcarve" "$d/single.cue"; }
run_files() { rm -rf "$d/files"; sync; run_timed "$1" "$trackcarve" "$d/files.cue"; }
run_cat_single() { run_timed "$1" cat "$d/single.bin"; }
run_cat_files() { local names=() n; for ((n = 1; n <= tracks; n++)); do names+=("$d/track $n.bin"); done; run_timed "$1" cat "${names[@]}"; }
commands=(single files cat_single cat_files)
for c in "${commands[@]}"; do run_"$c" ignored; done

results=$d/results.txt
time_rounds "$results"

same=yes
cmp -s "$d/single/single.toc" "$d/files/files.toc" || same=NO
for ((n = 1; n <= tracks; n++)); do
  cmp -s "$d/single/track$n.iso" "$d/files/track$n.iso" || same=NO
done

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
single_wall=$(col single 2) files_wall=$(col files 2)
single_cpu=$(col single 3) files_cpu=$(col files 3)
vs_single=$(ratio "$files_wall" "$single_wall")
cat_ratio=$(ratio "$(col cat_files 2)" "$(col cat_single 2)")
echo
echo "== $tracks data tracks, $sectors sectors ($((sectors * 2352)) bytes), $rounds rounds, $(date -u +%Y-%m-%d), load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  %-22s %13s %13s\n' '' 'median wall s' 'median CPU s'
printf '  %-22s %13s %13s\n' "one BIN" "$single_wall" "$single_cpu"
printf '  %-22s %13s %13s\n' "one BIN per track" "$files_wall" "$files_cpu"
echo "  one BIN per track / one BIN: $vs_single (target <= 1.03) $(verdict "$vs_single" 1.03)   [CPU $(ratio "$files_cpu" "$single_cpu")]"
echo "  control, cat of the same inputs: $cat_ratio"
echo "  same TOC and .iso files: $same"
rm -rf "$d/single" "$d/files"
