#!/usr/bin/env bash
# Track-1 gap benchmark: what the check for audio before track 1's INDEX 01
# costs. The same 1-minute AUDIO track 1 (music-like PCM) is split from a BIN
# where it starts at sector 0 and from one where it follows a silent gap of
# GAP_SECONDS (default 300: 5 minutes, 52.9 MB of zeros, the worst case, as
# the check reads a silent gap to its end and stops at the first audio
# byte), interleaved (order rotated each round), ROUNDS rounds (default 5),
# medians. Checks both decode alike and whole, and compares their peak
# RSS. Prints PASS/MISS per target, with the load average, and exits 0.
#
#   bench/track_one_gap.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

gap_seconds=${GAP_SECONDS:-300}

need_packages vorbis-tools time g++ diffutils
find_trackcarve
build_helpers

d=$bench_dir/track_one_gap
mkdir -p "$d"
make_once "gap-audio-60" "$gen" audio 60 "$d/music.bin"
make_gapped() { head -c $((gap_seconds * 75 * 2352)) /dev/zero | cat - "$d/music.bin" >"$d/gapped.bin"; }
make_once "gap-gapped-$gap_seconds" make_gapped
printf 'FILE "music.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$d/nogap.cue"
printf 'FILE "gapped.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 %02d:%02d:00\n' \
  $((gap_seconds / 60)) $((gap_seconds % 60)) >"$d/gapped.cue"

run_nogap() { rm -rf "$d/nogap"; sync; run_timed "$1" "$trackcarve" "$d/nogap.cue"; }
run_gapped() { rm -rf "$d/gapped"; sync; run_timed "$1" "$trackcarve" "$d/gapped.cue"; }
commands=(nogap gapped)

log "warming up"
cat "$d/music.bin" "$d/gapped.bin" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done

load_before=$(cat /proc/loadavg)
results=$d/results.txt
time_rounds "$results"
load_after=$(cat /proc/loadavg)

oggdec -Q -R -o "$d/nogap.pcm" "$d/nogap/track1.ogg"
oggdec -Q -R -o "$d/gapped.pcm" "$d/gapped/track1.ogg"
# Vorbis is lossy: the two must decode alike, to as many bytes as went in.
if cmp -s "$d/nogap.pcm" "$d/gapped.pcm" && [ "$(stat -c %s "$d/nogap.pcm")" = "$(stat -c %s "$d/music.bin")" ]; then
  same=yes
else
  same=NO
fi
rm -f "$d/nogap.pcm" "$d/gapped.pcm"

rss_run() {   # rss_run NAME: peak RSS (KB) of trackcarve on NAME.cue
  rm -rf "${d:?}/$1"
  /usr/bin/time -f '%M' -o "$d/rss.out" "$trackcarve" "$d/$1.cue" >/dev/null
  tail -n 1 "$d/rss.out"
}
rss_nogap=$(for i in 1 2 3; do rss_run nogap; done | median)
rss_gapped=$(for i in 1 2 3; do rss_run gapped; done | median)

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
row() { printf '  %-8s %13s %12s %14s\n' "$@"; }
vs_nogap=$(ratio "$(col gapped 2)" "$(col nogap 2)")
growth=$((rss_gapped - rss_nogap))

echo
echo "== track-1 gap: 60 s audio track 1, after no gap and after a silent gap of $gap_seconds s, $rounds rounds, $(date -u +%Y-%m-%d)"
echo "  load average before: $load_before; after: $load_after"
row '' 'median wall s' 'min wall s' 'median CPU s'
for c in "${commands[@]}"; do row "$c" "$(col "$c" 2)" "$(low "$c")" "$(col "$c" 3)"; done
echo "  (CPU = user + system; per-round figures in $results)"
echo "  gapped/nogap  $vs_nogap (target <= 1.05) $(verdict "$vs_nogap" 1.05)   [CPU $(ratio "$(col gapped 3)" "$(col nogap 3)")]"
echo "  decoded audio the same in both, as long as the music that went in: $same"
echo "  peak RSS (/usr/bin/time %M): gapped $rss_gapped KB, nogap $rss_nogap KB:"
echo "    difference $growth KB (target < 1024 KB) $(verdict "${growth#-}" 1023)"
