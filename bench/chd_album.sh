#!/usr/bin/env bash
# CHD benchmark: the 40-minute album (the mixed disc's 12 AUDIO tracks
# alone, 40:06) kept as a CHD by Debian's chdman createcd with its default
# codecs (cdlz, cdzl, cdfl), split straight from the CHD
# (`trackcarve album.chd`) against the way without it (`chdman extractcd`
# to a BIN and sheet, then `trackcarve` of those; timed as one command),
# interleaved (order rotated each round), ROUNDS rounds (default 3),
# medians; each on fresh output. Checks both give the same TOC, the same
# emulator sheet but for its REM SOURCE line, and the same decoded audio.
# Peak RSS of the CHD split of the album (the median of its rounds) against
# that of a CHD of two 30-second tracks, both with two writers. Prints
# PASS/MISS per target, with the load average, and exits 0.
#
#   bench/chd_album.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rounds=${ROUNDS:-3}

need_packages mame-tools vorbis-tools time g++ diffutils
find_trackcarve
build_helpers

d=$bench_dir/chd_album
mkdir -p "$d"
make_album() {
  "$gen" mixed_audio "$d/album.bin" "$d/album.cue"
  chdman createcd -f -i "$d/album.cue" -o "$d/album.chd" >/dev/null 2>&1
  rm -f "$d/album.bin"
}
make_short() {
  "$gen" audio 60 "$d/short.bin"
  printf 'FILE "short.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:30:00\n' \
    >"$d/short.cue"
  chdman createcd -f -i "$d/short.cue" -o "$d/short.chd" >/dev/null 2>&1
  rm -f "$d/short.bin"
}
make_once chd-album make_album
make_once chd-short make_short
mkdir -p "$d/extracted"

run_chd() { rm -rf "$d/out-chd"; sync; run_timed "$1" "$trackcarve" -j 2 -o "$d/out-chd" "$d/album.chd"; }
run_extracted() {
  rm -rf "$d/out-bin" "$d/extracted/album.bin" "$d/extracted/album.cue"
  sync
  run_timed "$1" bash -c '"$1" extractcd -f -i "$2" -o "$3/album.cue" -ob "$3/album.bin" && "$4" -j 2 -o "$5" "$3/album.cue"' \
    - chdman "$d/album.chd" "$d/extracted" "$trackcarve" "$d/out-bin"
}
commands=(chd extracted)

log "warming up"
cat "$d/album.chd" "$d/short.chd" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done

load_before=$(cat /proc/loadavg)
results=$d/results.txt
time_rounds "$results"
load_after=$(cat /proc/loadavg)

# The same files: the TOC, the emulator sheet but its first line, the audio.
same=yes
cmp -s "$d/out-chd/album/album.toc" "$d/out-bin/album/album.toc" || same="NO (TOC)"
cmp -s <(tail -n +2 "$d/out-chd/album/album.cue") <(tail -n +2 "$d/out-bin/album/album.cue") || same="NO (sheet)"
for f in "$d"/out-bin/album/track*.ogg; do
  cmp -s <(oggdec -Q -R -o - "$f") <(oggdec -Q -R -o - "$d/out-chd/album/${f##*/}") || same="NO (${f##*/})"
done
tracks=$(ls "$d"/out-chd/album/track*.ogg | wc -l)

rss_run() {   # rss_run: peak RSS (KB) of trackcarve -j 2 on short.chd
  rm -rf "${d:?}/rss"
  /usr/bin/time -f '%M' -o "$d/rss.out" "$trackcarve" -j 2 -o "$d/rss" "$d/short.chd" >/dev/null
  tail -n 1 "$d/rss.out"
}
rss_short=$(for i in 1 2 3; do rss_run; done | median)
rm -rf "$d/rss" "$d/extracted/album.bin"

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
row() { printf '  %-10s %13s %12s %14s %15s\n' "$@"; }
vs_extracted=$(ratio "$(col chd 2)" "$(col extracted 2)")
rss_album=$(col chd 4)
growth=$((rss_album - rss_short))

echo
echo "== CHD album: 12 audio tracks, 40:06, $(stat -c %s "$d/album.chd") bytes of CHD, $rounds rounds, $(date -u +%Y-%m-%d)"
echo "  load average before: $load_before; after: $load_after"
row '' 'median wall s' 'min wall s' 'median CPU s' 'median RSS KB'
for c in "${commands[@]}"; do row "$c" "$(col "$c" 2)" "$(low "$c")" "$(col "$c" 3)" "$(col "$c" 4)"; done
echo "  (CPU = user + system of the command and its children; per-round figures in $results)"
echo "  chd/extracted  $vs_extracted (target <= 1.0) $(verdict "$vs_extracted" 1.0)   [CPU $(ratio "$(col chd 3)" "$(col extracted 3)")]"
echo "  same TOC, emulator sheet (but REM SOURCE) and decoded audio of $tracks tracks: $same"
echo "  peak RSS, -j 2: album $rss_album KB (its rounds), two 30-second tracks $rss_short KB (/usr/bin/time %M):"
echo "    difference $growth KB (target < 1024 KB) $(verdict "${growth#-}" 1023)"
