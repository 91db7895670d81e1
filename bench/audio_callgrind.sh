#!/usr/bin/env bash
# Where trackcarve's instructions go when it encodes a short (20 s) AUDIO
# track, counted by callgrind (repeatable, unlike times on a shared machine):
# instructions per object file (self cost), trackcarve's own functions, and
# the total against `oggenc -q 1` on the same PCM. Uses the 5-minute PCM of
# bench/audio_track.sh (made here if missing). Takes about half a minute.
#
#   bench/audio_callgrind.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=${CALLGRIND_SECONDS:-20}
need_packages valgrind vorbis-tools g++
find_trackcarve
build_helpers

d=$bench_dir
make_once "audio-300" "$gen" audio 300 "$d/audio.bin"
cut_clip() { head -c $((seconds * 75 * 2352)) "$d/audio.bin" >"$d/clip.bin"; }
make_once "clip-$seconds" cut_clip
printf 'FILE "clip.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$d/clip.cue"

rm -rf "$d/clip"
log "callgrind: trackcarve"
valgrind --tool=callgrind --callgrind-out-file="$d/callgrind.trackcarve" "$trackcarve" "$d/clip.cue" >/dev/null 2>"$d/callgrind.trackcarve.log"
log "callgrind: oggenc"
valgrind --tool=callgrind --callgrind-out-file="$d/callgrind.oggenc" \
  oggenc -Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 1 -o "$d/clip.oggenc.ogg" "$d/clip.bin" >/dev/null 2>"$d/callgrind.oggenc.log"
rm -rf "$d/clip" "$d/clip.oggenc.ogg"

total() { callgrind_annotate --threshold=100 --auto=no "$1" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'; }
functions() { callgrind_annotate --threshold=100 --auto=no "$1" 2>/dev/null | awk '/^ *[0-9,]+ \( *[0-9.]+%\)  / && !/PROGRAM TOTALS/'; }
tc_total=$(total "$d/callgrind.trackcarve")
oggenc_total=$(total "$d/callgrind.oggenc")

# by_object PROFILE TOTAL: the profile's self cost summed per object file.
by_object() {
  functions "$1" | awk -v total="$2" '
    { ir = $1; gsub(",", "", ir); obj = "(object not named; libc/libm/ld.so)"
      if ($NF ~ /^\[.*\]$/) { obj = $NF; gsub(/[][]/, "", obj); n = split(obj, parts, "/"); obj = parts[n] }
      sum[obj] += ir }
    END { for (o in sum) printf "    %6.2f%%  %15d  %s\n", 100 * sum[o] / total, sum[o], o }' | sort -rn | head -n 7
}

echo
echo "== callgrind, $seconds s audio track, $(date -u +%Y-%m-%d)"
echo "  instructions: trackcarve $tc_total, oggenc $oggenc_total, ratio $(ratio "$tc_total" "$oggenc_total")"
echo "  trackcarve's instructions by object file (self cost):"
by_object "$d/callgrind.trackcarve" "$tc_total"
echo "  trackcarve's own functions (self cost, share of all):"
functions "$d/callgrind.trackcarve" | awk -v total="$tc_total" -v binary="[$trackcarve]" '
  $NF == binary { ir = $1; gsub(",", "", ir); sub(/^ *[0-9,]+ \( *[0-9.]+%\) +/, ""); sub(/ +\[[^]]*\]$/, ""); printf "    %6.3f%%  %15d  %s\n", 100 * ir / total, ir, $0 }' | sort -rn | head -n 8
echo "  oggenc's instructions by object file (self cost):"
by_object "$d/callgrind.oggenc" "$oggenc_total"
echo "  (full profiles: callgrind_annotate $d/callgrind.trackcarve, or .oggenc)"
