#!/usr/bin/env bash
# Audio-track benchmark: trackcarve encoding one 5-minute AUDIO track
# (deterministic music-like 44100 Hz stereo 16-bit PCM) to Ogg Vorbis, timed
# side by side with `oggenc -q 1` (Debian's vorbis-tools; libvorbis quality
# 0.1, as trackcarve) on the same PCM, interleaved (order rotated each
# round), ROUNDS rounds (default 5), medians. Then: whether both streams
# decode to bit-identical PCM, and trackcarve's peak RSS for a 40-minute and
# a 1-minute track. Prints PASS/MISS per target and exits 0. Scratch files go
# to $BENCH_DIR (default /tmp/trackcarve-bench); TRACKCARVE=path times
# another binary; SECONDS_LONG=0 skips the 40-minute RSS run.
#
#   bench/audio_track.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=${AUDIO_SECONDS:-300}
long_seconds=${SECONDS_LONG:-2400}

need_packages vorbis-tools time g++ diffutils
find_trackcarve
build_helpers

d=$bench_dir
# An audio track's sectors are the PCM itself: the BIN is what oggenc reads.
make_once "audio-$seconds" "$gen" audio "$seconds" "$d/audio.bin"
write_cue() { printf 'FILE "%s.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' "$1" >"$d/$1.cue"; }
write_cue audio

tc_out=$d/audio/track1.ogg
oggenc_out=$d/oggenc.ogg
run_trackcarve() { rm -rf "$d/audio"; sync; run_timed "$1" "$trackcarve" "$d/audio.cue"; }
run_oggenc() {
  rm -f "$oggenc_out"; sync
  run_timed "$1" oggenc -Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 1 -o "$oggenc_out" "$d/audio.bin"
}
commands=(trackcarve oggenc)

log "warming up"
cat "$d/audio.bin" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done

results=$d/audio_results.txt
time_rounds "$results"

log "decoding both streams"
oggdec -Q -R -o "$d/trackcarve.pcm" "$tc_out"
oggdec -Q -R -o "$d/oggenc.pcm" "$oggenc_out"
if cmp -s "$d/trackcarve.pcm" "$d/oggenc.pcm"; then identical=yes; else identical=NO; fi
tc_pcm_bytes=$(stat -c %s "$d/trackcarve.pcm")
oggenc_pcm_bytes=$(stat -c %s "$d/oggenc.pcm")
tc_ogg_bytes=$(stat -c %s "$tc_out")
oggenc_ogg_bytes=$(stat -c %s "$oggenc_out")
rm -f "$d/trackcarve.pcm" "$d/oggenc.pcm"

rss_run() {   # rss_run NAME: peak RSS (KB) of trackcarve on NAME.cue
  rm -rf "${d:?}/$1"
  /usr/bin/time -f '%M' -o "$d/rss.out" "$trackcarve" "$d/$1.cue" >/dev/null
  rm -rf "${d:?}/$1"
  tail -n 1 "$d/rss.out"
}
short_sectors=$((60 * 75))
cut_short() { head -c $((short_sectors * 2352)) "$d/audio.bin" >"$d/audio1min.bin"; }
make_once "audio1min-$seconds" cut_short
write_cue audio1min
log "peak RSS: 1-minute track"
rss_short=$(for i in 1 2 3; do rss_run audio1min; done | median)
if ((long_seconds > 0)); then
  # The long track repeats the 5-minute PCM (whole sectors, so any length works).
  repeats=$(((long_seconds + seconds - 1) / seconds))
  make_long() {
    local i
    for ((i = 0; i < repeats; i++)); do cat "$d/audio.bin"; done | head -c $((long_seconds * 75 * 2352)) >"$d/audiolong.bin"
  }
  make_once "audiolong-$long_seconds-$seconds" make_long
  write_cue audiolong
  log "peak RSS: $((long_seconds / 60))-minute track (one run)"
  long_start=$(date +%s%N)
  rss_long=$(rss_run audiolong)
  long_wall=$(awk -v ns=$(($(date +%s%N) - long_start)) 'BEGIN { printf "%.1f", ns / 1e9 }')
fi

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
for c in "${commands[@]}"; do
  printf -v "${c}_wall" '%s' "$(col "$c" 2)"
  printf -v "${c}_min" '%s' "$(low "$c")"
  printf -v "${c}_cpu" '%s' "$(col "$c" 3)"
done
vs_oggenc=$(ratio "$trackcarve_wall" "$oggenc_wall")
row() { printf '  %-11s %13s %12s %14s\n' "$@"; }

echo
echo "== audio track: $seconds s of 44100 Hz stereo PCM ($(stat -c %s "$d/audio.bin") bytes), $rounds rounds, $(date -u +%Y-%m-%d)"
row '' 'median wall s' 'min wall s' 'median CPU s'
for c in "${commands[@]}"; do
  w=${c}_wall m=${c}_min u=${c}_cpu
  row "$c" "${!w}" "${!m}" "${!u}"
done
echo "  (CPU = user + system; per-round figures in $results)"
echo "  trackcarve/oggenc  $vs_oggenc (target <= 1.05) $(verdict "$vs_oggenc" 1.05)   [min wall $(ratio "$trackcarve_min" "$oggenc_min"), CPU $(ratio "$trackcarve_cpu" "$oggenc_cpu")]"
echo "  .ogg sizes: trackcarve $tc_ogg_bytes bytes, oggenc $oggenc_ogg_bytes bytes"
echo "  decoded PCM bit-identical: $identical (trackcarve $tc_pcm_bytes bytes, oggenc $oggenc_pcm_bytes bytes, input $(stat -c %s "$d/audio.bin"))"
if ((long_seconds > 0)); then
  growth=$((rss_long - rss_short))
  echo "  peak RSS (/usr/bin/time %M): $rss_long KB for $((long_seconds / 60)) min (encoded in ${long_wall} s), $rss_short KB for 1 min:"
  echo "    difference $growth KB (target < 1024 KB) $(verdict "${growth#-}" 1023)"
else
  echo "  peak RSS (/usr/bin/time %M): $rss_short KB for 1 min (long run skipped)"
fi
