#!/usr/bin/env bash
# A 40-minute album kept as one FLAC file with its sheet, split --flac,
# against the same split from its BIN: 2400 s of the generator's music-like
# PCM, 12 tracks of 200 s, the FLAC made by Debian's `flac -5` from the BIN's
# bytes. `-j 2`, interleaved (order rotated each round), ROUNDS rounds
# (default 3), medians; the load average before and after. As the control,
# `flac -d` of the album to /dev/null: libFLAC's own decoding, which the
# split from the FLAC file adds to the one from the BIN. Checks that both
# splits write the same .flac files byte for byte. Target: FLAC / BIN wall
# <= 1.1. Prints PASS/MISS and exits 0. Scratch files go to $BENCH_DIR.
# BASELINE=path also times that binary's split from the FLAC file in the same
# rounds (and checks its files too), for a before/after within one run.
#
#   bench/flac_album.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rounds=${ROUNDS:-3}
seconds=2400
tracks=12
baseline=${BASELINE:-}

need_packages g++ flac
find_trackcarve
build_helpers

d=$bench_dir/flac_album
mkdir -p "$d"
make_album() {
  "$gen" audio "$seconds" "$d/album.bin"
  flac -s -f -5 --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 \
    "$d/album.bin" -o "$d/album.flac"
  local n first msf
  for kind in bin flac; do
    if [ $kind = bin ]; then echo 'FILE "album.bin" BINARY'; else echo 'FILE "album.flac" WAVE'; fi >"$d/$kind.cue"
    for ((n = 1; n <= tracks; n++)); do
      first=$(((n - 1) * seconds / tracks * 75))
      printf -v msf '%02d:%02d:%02d' $((first / 4500)) $((first / 75 % 60)) $((first % 75))
      printf '  TRACK %02d AUDIO\n    TITLE "Track %d"\n    INDEX 01 %s\n' "$n" "$n" "$msf" >>"$d/$kind.cue"
    done
  done
}
make_once "flac-album-$seconds" make_album

run_bin() { rm -rf "$d/bin"; run_timed "$1" "$trackcarve" -j 2 --flac "$d/bin.cue"; }
run_flac() { rm -rf "$d/flac"; run_timed "$1" "$trackcarve" -j 2 --flac "$d/flac.cue"; }
run_base_flac() { rm -rf "$d/base"; run_timed "$1" "$baseline" -j 2 --flac -o "$d/base" "$d/flac.cue"; }
run_decode() { run_timed "$1" sh -c "flac -s -d -c --force-raw-format --endian=little --sign=signed '$d/album.flac' >/dev/null"; }
commands=(bin flac decode)
[ -n "$baseline" ] && commands+=(base_flac)
cat "$d/album.bin" "$d/album.flac" >/dev/null
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$d/results.txt
time_rounds "$results"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

same=yes
for ((n = 1; n <= tracks; n++)); do
  cmp -s "$d/bin/track$n.flac" "$d/flac/track$n.flac" || same=NO
  [ -z "$baseline" ] || cmp -s "$d/bin/track$n.flac" "$d/base/flac/track$n.flac" || same=NO
done

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
bin_wall=$(col bin 2) flac_wall=$(col flac 2)
r=$(ratio "$flac_wall" "$bin_wall")
echo
echo "== one 40-minute album (12 tracks) split -j 2 --flac, $rounds rounds, $(date -u +%Y-%m-%d), load before: $load_before, after: $load_after"
printf '  %-22s %13s %13s\n' '' 'median wall s' 'median CPU s'
printf '  %-22s %13s %13s\n' "from its BIN" "$bin_wall" "$(col bin 3)"
printf '  %-22s %13s %13s\n' "from one FLAC file" "$flac_wall" "$(col flac 3)"
echo "  FLAC / BIN: $r (target <= 1.1) $(verdict "$r" 1.1)   [CPU $(ratio "$(col flac 3)" "$(col bin 3)")]"
[ -z "$baseline" ] || printf '  %-22s %13s %13s   FLAC file, baseline / BIN: %s\n' "baseline, FLAC file" \
  "$(col base_flac 2)" "$(col base_flac 3)" "$(ratio "$(col base_flac 2)" "$bin_wall")"
printf '  %-22s %13s %13s\n' "control: flac -d" "$(col decode 2)" "$(col decode 3)"
echo "  CPU the FLAC file adds: $(awk -v a="$(col flac 3)" -v b="$(col bin 3)" 'BEGIN { printf "%.2f", a - b }') s, flac -d alone: $(col decode 3) s"
echo "  same .flac files: $same"
rm -rf "$d/bin" "$d/flac" "$d/base"
