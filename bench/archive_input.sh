#!/usr/bin/env bash
# The mixed disc (one 50 MB data track and 12 audio tracks, 40:06; see
# make_bench_input.cpp) as one BIN and its sheet in a .zip and a .7z made by
# bsdtar: `trackcarve --flac ARCHIVE` against unpacking it with `bsdtar -x`
# and splitting the result (`trackcarve --flac` on the unpacked sheet), as
# one timed command. `-j 2`, interleaved (order rotated each round), ROUNDS
# rounds (default 3), medians; the load average before and after. Checks
# that the archive's split writes the same track files as the unpacked
# one's and leaves no temporary behind. Targets: archive / (bsdtar -x +
# split) wall <= 1.1 for each format. Also the same disc as Redump keeps
# it, one BIN a track in a .zip, where all BINs but one are read straight
# from the archive, and in a .7z, where all are read straight in one pass
# and the tracks are written one after another. Gives the bytes each split
# unpacked beside its output (its --report line). Prints PASS/MISS and
# exits 0.
#
#   bench/archive_input.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rounds=${ROUNDS:-3}

need_packages g++ libarchive-tools
find_trackcarve
build_helpers

d=$bench_dir/archive_input
mkdir -p "$d/disc"
make_archives() {
  "$gen" mixed "$d/disc/mixed.bin" "$d/disc/mixed.cue"
  (cd "$d/disc" && bsdtar -a -cf ../mixed.zip mixed.cue mixed.bin &&
    bsdtar --options 7zip:compression-level=1 -a -cf ../mixed.7z mixed.cue mixed.bin)
}
make_once archive-input make_archives

# The mixed disc cut into one BIN a track (each from its INDEX 01), in a
# .zip and a .7z.
make_tracks_archives() {
  local starts modes n count total
  mkdir -p "$d/tracks"
  mapfile -t starts < <(awk '/INDEX 01/ { split($3, t, ":"); print (t[1] * 60 + t[2]) * 75 + t[3] }' "$d/disc/mixed.cue")
  mapfile -t modes < <(awk '/TRACK/ { print $3 }' "$d/disc/mixed.cue")
  total=$(($(stat -c %s "$d/disc/mixed.bin") / 2352))
  starts+=("$total")
  : >"$d/tracks/mixed.cue"
  for ((n = 1; n < ${#starts[@]}; n++)); do
    count=$((starts[n] - starts[n - 1]))
    dd if="$d/disc/mixed.bin" of="$d/tracks/mixed (Track $n).bin" bs=2352 skip="${starts[n - 1]}" count="$count" status=none
    printf 'FILE "mixed (Track %d).bin" BINARY\n  TRACK %02d %s\n    INDEX 01 00:00:00\n' "$n" "$n" "${modes[n - 1]}" >>"$d/tracks/mixed.cue"
  done
  (cd "$d/tracks" && bsdtar -a -cf ../tracks.zip mixed.cue mixed\ \(Track* &&
    bsdtar --options 7zip:compression-level=1 -a -cf ../tracks.7z mixed.cue mixed\ \(Track*)
  rm -rf "$d/tracks"
}
make_once archive-input-tracks-2 make_tracks_archives

split_archive() {
  rm -rf "$d/mixed" "$d/out.$2" "$d/report.$2"
  run_timed "$1" "$trackcarve" -j 2 --flac --report "$d/report.$2" -o "$d/out.$2" "$d/mixed.$2"
}
split_unpacked() {
  rm -rf "$d/x.$2"
  mkdir -p "$d/x.$2"
  run_timed "$1" sh -c "bsdtar -xf '$d/mixed.$2' -C '$d/x.$2' && '$trackcarve' -j 2 --flac '$d/x.$2/mixed.cue'"
}
run_zip() { split_archive "$1" zip; }
run_unpacked_zip() { split_unpacked "$1" zip; }
run_7z() { split_archive "$1" 7z; }
run_unpacked_7z() { split_unpacked "$1" 7z; }
run_tracks() { split_archive "$1" tracks; }
run_unpacked_tracks() { split_unpacked "$1" tracks; }
run_tracks7z() { split_archive "$1" tracks7z; }
run_unpacked_tracks7z() { split_unpacked "$1" tracks7z; }
commands=(zip unpacked_zip 7z unpacked_7z tracks unpacked_tracks tracks7z unpacked_tracks7z)
cp "$d/tracks.zip" "$d/mixed.tracks"
cp "$d/tracks.7z" "$d/mixed.tracks7z"
cat "$d/mixed.zip" "$d/mixed.7z" "$d/mixed.tracks" "$d/mixed.tracks7z" >/dev/null
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$d/results.txt
time_rounds "$results"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

same=yes
for kind in zip 7z tracks tracks7z; do
  for f in "$d/x.$kind/mixed"/track*; do cmp -s "$f" "$d/out.$kind/mixed/${f##*/}" || same=NO; done
done
left=$(find "$d" -name '*trackcarve-tmp' | wc -l)

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
echo
echo "== the mixed disc ($(stat -c %s "$d/disc/mixed.bin") bytes of BIN) split -j 2 --flac, $rounds rounds, $(date -u +%Y-%m-%d), load before: $load_before, after: $load_after"
printf '  %-28s %13s %13s %12s\n' '' 'median wall s' 'median CPU s' 'archive MB'
for kind in zip 7z tracks tracks7z; do
  printf '  %-28s %13s %13s %12s\n' "trackcarve mixed.$kind" "$(col $kind 2)" "$(col $kind 3)" $(($(stat -c %s "$d/mixed.$kind") / 1000000))
  printf '  %-28s %13s %13s\n' "bsdtar -x + trackcarve" "$(col unpacked_$kind 2)" "$(col unpacked_$kind 3)"
  r=$(ratio "$(col $kind 2)" "$(col unpacked_$kind 2)")
  echo "  $kind / (bsdtar -x + split): $r (target <= 1.1) $(verdict "$r" 1.1)   [CPU $(ratio "$(col $kind 3)" "$(col unpacked_$kind 3)")]"
done
echo "  same track files: $same; temporaries left: $left"
for kind in zip 7z tracks tracks7z; do
  echo "  mixed.$kind: $(grep -o '"unpacked_bytes":[0-9]*' "$d/report.$kind" | cut -d: -f2) bytes unpacked beside the output (--report)"
done
rm -rf "$d"/x.* "$d"/out.* "$d"/report.* "$d/mixed.tracks" "$d/mixed.tracks7z"
