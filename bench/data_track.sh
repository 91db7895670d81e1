#!/usr/bin/env bash
# Data-track benchmark: trackcarve extracting one ~300 MB MODE1/2352 track,
# timed side by side with `cp` of the same BIN, with Debian's `bchunk`
# writing the same track, with `trackcarve --raw-data` (the raw sectors) and
# with the wave-1 build (the tree at the end of the first wave of work, before
# the safe output files), interleaved (order rotated each round), ROUNDS
# rounds (default 5), medians. Then the same again over the outputs of the
# round before, which trackcarve replaces by a rename (the old file freed)
# and the wave-1 build and cp truncate. Also checks the .iso and .bin bytes
# and trackcarve's peak RSS for a 300 MB and a 30 MB track, and prints the
# load average before and after. Prints PASS/MISS per target and exits 0: it
# documents, it does not gate. Scratch files go to $BENCH_DIR (default
# /tmp/trackcarve-bench); TRACKCARVE=path times another binary, WAVE1=path
# another wave-1 binary (else it is built from the commit below with
# `git archive`, once, into $BENCH_DIR).
#
#   bench/data_track.sh            # ROUNDS=15 bench/data_track.sh for more rounds
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sectors=${SECTORS:-128000}          # 128000 * 2352 = 301 MB
small_sectors=$((sectors / 10))     # 30 MB
wave1_commit=a919718                # the last commit of the first wave (bench/README.md)

need_packages bchunk time g++ diffutils eatmydata
find_trackcarve
build_helpers

# The wave-1 build: $WAVE1, else its tree built once in the scratch folder.
find_wave1() {
  if [ -n "${WAVE1:-}" ]; then
    wave1=$WAVE1
  else
    local tree=$bench_dir/wave1-$wave1_commit
    wave1=$tree/build/trackcarve
    if [ ! -x "$wave1" ]; then
      log "building the wave-1 trackcarve ($wave1_commit) in $tree"
      rm -rf "$tree" && mkdir -p "$tree"
      git -C "$repo" archive "$wave1_commit" | tar -x -C "$tree"
      cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release -DTRACKCARVE_TESTS=OFF >/dev/null
      cmake --build "$tree/build" -j "$(nproc)" --target trackcarve >/dev/null
    fi
  fi
  [ -x "$wave1" ] || die "no wave-1 trackcarve at $wave1"
}
find_wave1

d=$bench_dir
cut_small() { head -c $((small_sectors * 2352)) "$d/data.bin" >"$d/small.bin"; }
make_once "data-$sectors" "$gen" data "$sectors" "$d/data.bin" "$d/data.expected.iso"
make_once "small-$sectors" cut_small
for name in data small raw wave1; do
  bin=data
  [ "$name" = small ] && bin=small
  printf 'FILE "%s.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' "$bin" >"$d/$name.cue"
done

tc_out=$d/data/track1.iso      # trackcarve: x.cue -> x/
raw_out=$d/raw/track1.bin
wave1_out=$d/wave1/track1.iso
cp_out=$d/copy.bin
bchunk_out=$d/bchunk01.iso     # bchunk: basename + track number + .iso

# One function per command: removes its output (so no command pays for
# truncating an old file) unless $keep is set, flushes dirty pages, then runs
# it timed.
keep=
# Over an earlier output trackcarve would keep the track its record vouches
# for: the record goes, so that the track is written again.
fresh() { if [ -n "$keep" ]; then rm -f "$1/.trackcarve-record"; else rm -rf "$@"; fi; sync; }
run_trackcarve() { fresh "$d/data"; run_timed "$1" "$trackcarve" "$d/data.cue"; }
run_raw() { fresh "$d/raw"; run_timed "$1" "$trackcarve" --raw-data "$d/raw.cue"; }
run_wave1() { fresh "$d/wave1"; run_timed "$1" "$wave1" "$d/wave1.cue"; }
run_cp() { fresh "$cp_out"; run_timed "$1" cp "$d/data.bin" "$cp_out"; }
# trackcarve flushes each file to the disk before its rename (fsync): its
# data path alone is timed under eatmydata, which makes the flush a no-op,
# and the durable whole against cp followed by the same flush of its copy.
run_nosync() { fresh "$d/data"; run_timed "$1" eatmydata "$trackcarve" "$d/data.cue"; }
run_raw_nosync() { fresh "$d/raw"; run_timed "$1" eatmydata "$trackcarve" --raw-data "$d/raw.cue"; }
run_cp_sync() { fresh "$cp_out"; run_timed "$1" sh -c 'cp "$1" "$2" && sync "$2"' cp_sync "$d/data.bin" "$cp_out"; }
run_bchunk() { fresh "$bchunk_out"; run_timed "$1" bchunk "$d/data.bin" "$d/data.cue" "$d/bchunk"; }

load_before=$(cat /proc/loadavg)
log "warming the page cache"
cat "$d/data.bin" "$d/small.bin" >/dev/null
# An older binary (TRACKCARVE=...) may have no --raw-data: then raw is left out.
raw=raw
"$trackcarve" --help | grep -q -- --raw-data || raw=
commands=(trackcarve nosync $raw ${raw:+raw_nosync} wave1 cp cp_sync bchunk)
for c in "${commands[@]}"; do run_"$c" ignored; done   # one untimed round

results=$d/data_results.txt
time_rounds "$results"

log "checking the .iso and .bin bytes"
same() { if cmp -s "$1" "$2"; then echo yes; else echo NO; fi; }
same_bchunk=$(same "$tc_out" "$bchunk_out")
same_expected=$(same "$tc_out" "$d/data.expected.iso")
same_wave1=$(same "$tc_out" "$wave1_out")
same_raw=n/a
[ -z "$raw" ] || same_raw=$(same "$raw_out" "$d/data.bin")
rm -f "$bchunk_out"

# Each over the output its own run left: trackcarve's rename over the old
# file against the wave-1 build's and cp's truncation of it.
keep=1
commands=(nosync wave1 cp)
again=$d/data_again_results.txt
time_rounds "$again"
load_after=$(cat /proc/loadavg)
rm -f "$cp_out"

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
rm -rf "$d/small" "$d/data" "$d/raw" "$d/wave1"

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$3" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$2" | sort -g | head -n 1; }
row() { printf '  %-11s %13s %12s %14s\n' "$@"; }
# table FILE COMMAND...: the medians of each command, and sets NAME_wall,
# NAME_min and NAME_cpu (prefixed by the file's tag) for the ratios.
table() {
  local file=$1 tag=$2 c
  shift 2
  row '' 'median wall s' 'min wall s' 'median CPU s'
  for c in "$@"; do
    printf -v "${tag}${c}_wall" '%s' "$(col "$c" 2 "$file")"
    printf -v "${tag}${c}_min" '%s' "$(low "$c" "$file")"
    printf -v "${tag}${c}_cpu" '%s' "$(col "$c" 3 "$file")"
    local w=${tag}${c}_wall m=${tag}${c}_min u=${tag}${c}_cpu
    row "$c" "${!w}" "${!m}" "${!u}"
  done
}
# versus TAG A B LIMIT: A/B on the median wall, with its min-wall and CPU ratios.
versus() {
  local a=$1$2 b=$1$3 limit=${4:-}
  local aw=${a}_wall bw=${b}_wall am=${a}_min bm=${b}_min ac=${a}_cpu bc=${b}_cpu
  local r
  r=$(ratio "${!aw}" "${!bw}")
  printf '  %-18s %s%s   [min wall %s, CPU %s]\n' "$2/$3" "$r" \
    "${limit:+ (target <= $limit) $(verdict "$r" "$limit")}" "$(ratio "${!am}" "${!bm}")" "$(ratio "${!ac}" "${!bc}")"
}

echo
echo "== data track: $sectors sectors ($((sectors * 2352)) bytes BIN, $((sectors * 2048)) bytes ISO), $rounds rounds, $(date -u '+%Y-%m-%d %H:%M') UTC"
echo "  load average before: $load_before"
echo "  load average after:  $load_after"
echo "  raw = trackcarve --raw-data; wave1 = the build of $wave1_commit ($wave1)"
table "$results" '' trackcarve nosync $raw ${raw:+raw_nosync} wave1 cp cp_sync bchunk
echo "  (CPU = user + system; per-round figures in $results)"
echo "  (nosync: the same run under eatmydata, without the flush to disk; cp_sync: cp, then sync of its copy)"
versus '' nosync cp 1.0
[ -z "$raw" ] || versus '' raw_nosync cp 1.0
versus '' trackcarve cp_sync 1.0
[ -z "$raw" ] || versus '' raw cp_sync 1.0
versus '' trackcarve cp
versus '' wave1 cp
versus '' trackcarve wave1
versus '' trackcarve bchunk 0.6
echo "  over the output of the round before (per-round figures in $again):"
table "$again" again_ nosync wave1 cp
versus again_ nosync cp 1.0
versus again_ wave1 cp
versus again_ nosync wave1
echo "  .iso identical to bchunk's: $same_bchunk; to bytes 16..2063 of each sector: $same_expected; to wave-1's: $same_wave1  $([ "$same_bchunk$same_expected$same_wave1" = yesyesyes ] && echo PASS || echo MISS)"
echo "  --raw-data .bin identical to the BIN: $same_raw  $([ "$same_raw" != NO ] && echo PASS || echo MISS)"
echo "  peak RSS (/usr/bin/time %M): $rss_big KB for the $((sectors * 2352 / 1000000)) MB track, $rss_small KB for the $((small_sectors * 2352 / 1000000)) MB track:"
echo "    growth $((rss_big - rss_small)) KB (target < 1024 KB) $(verdict "$((rss_big - rss_small))" 1023)"
