#!/usr/bin/env bash
# The audio choices on one 4-minute AUDIO track (the generator's music-like
# 44100 Hz stereo PCM): trackcarve -q 6 against `oggenc -q 6` and trackcarve
# --flac against Debian's `flac -5`, on the same bytes, interleaved (order
# rotated each round), ROUNDS rounds (default 5). Each ratio is taken within
# a round (the pair ran seconds apart, under the same load), and the median
# of those is judged. Then: whether each pair decodes to the same PCM (and
# the .flac to the input itself), the file sizes at -q 1 (the default), 3,
# 6 and FLAC, and the peak RSS of -q 6 and --flac for a 1-minute and a
# 40-minute track. The load average is printed before and after. PASS/MISS
# per target; exits 0. SECONDS_LONG=0 skips the 40-minute runs.
#
#   bench/audio_choices.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=${AUDIO_SECONDS:-240}
long_seconds=${SECONDS_LONG:-2400}

need_packages vorbis-tools flac time g++ diffutils
find_trackcarve
build_helpers

d=$bench_dir
load_before=$(cat /proc/loadavg)
make_once "audio-$seconds" "$gen" audio "$seconds" "$d/choices.bin"
write_cue() { printf 'FILE "%s.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' "$1" >"$d/$1.cue"; }
write_cue choices

raw_in=(--force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100)
run_tc_q6() { rm -rf "$d/choices"; sync; run_timed "$1" "$trackcarve" -q 6 "$d/choices.cue"; cp "$d/choices/track1.ogg" "$d/tc_q6.ogg"; }
run_oggenc_q6() {
  rm -f "$d/oggenc_q6.ogg"; sync
  run_timed "$1" oggenc -Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 6 -o "$d/oggenc_q6.ogg" "$d/choices.bin"
}
run_tc_flac() { rm -rf "$d/choices"; sync; run_timed "$1" "$trackcarve" --flac "$d/choices.cue"; cp "$d/choices/track1.flac" "$d/tc.flac"; }
run_flac5() { rm -f "$d/flac5.flac"; sync; run_timed "$1" flac -5 -s -f "${raw_in[@]}" -o "$d/flac5.flac" "$d/choices.bin"; }
commands=(tc_q6 oggenc_q6 tc_flac flac5)

log "warming up"
cat "$d/choices.bin" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done
results=$d/choices_results.txt
time_rounds "$results"

# paired NAME OTHER [FIELD]: the median of NAME's wall time (or FIELD 3,
# CPU time) over OTHER's, round by round.
paired() {
  local f=${3:-2}
  paste <(awk -v c="$1" -v f="$f" '$1 == c { print $f }' "$results") \
        <(awk -v c="$2" -v f="$f" '$1 == c { print $f }' "$results") |
    awk '{ print $1 / $2 }' | median | awk '{ printf "%.3f", $1 }'
}
col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
q6_ratio=$(paired tc_q6 oggenc_q6)
flac_ratio=$(paired tc_flac flac5)

log "decoding"
oggdec -Q -R -o "$d/a.pcm" "$d/tc_q6.ogg"
oggdec -Q -R -o "$d/b.pcm" "$d/oggenc_q6.ogg"
cmp -s "$d/a.pcm" "$d/b.pcm" && q6_same=yes || q6_same=NO
flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$d/a.pcm" "$d/tc.flac"
cmp -s "$d/a.pcm" "$d/choices.bin" && flac_same=yes || flac_same=NO
flac -t -s "$d/tc.flac" && flac_tested=clean || flac_tested=FAILED
rm -f "$d/a.pcm" "$d/b.pcm"

size_of() { # size_of OPTION...: bytes of the track file trackcarve writes with them
  rm -rf "$d/choices"
  "$trackcarve" "$@" "$d/choices.cue" >/dev/null
  stat -c %s "$d"/choices/track1.*
}
log "sizes"
size_q1=$(size_of) size_q3=$(size_of -q 3) size_q6=$(size_of -q 6) size_flac=$(size_of --flac)
kbits() { awk -v b="$1" -v s="$seconds" 'BEGIN { printf "%.0f", b * 8 / s / 1000 }'; }

rss_run() { # rss_run NAME OPTION...: peak RSS (KB) of trackcarve on NAME.cue
  local name=$1
  shift
  rm -rf "${d:?}/$name"
  /usr/bin/time -f '%M' -o "$d/rss.out" "$trackcarve" "$@" "$d/$name.cue" >/dev/null
  rm -rf "${d:?}/$name"
  tail -n 1 "$d/rss.out"
}
cut_short() { head -c $((60 * 75 * 2352)) "$d/choices.bin" >"$d/choices1min.bin"; }
make_once "choices1min-$seconds" cut_short
write_cue choices1min
if ((long_seconds > 0)); then
  make_long() {
    local i
    for ((i = 0; i < (long_seconds + seconds - 1) / seconds; i++)); do cat "$d/choices.bin"; done |
      head -c $((long_seconds * 75 * 2352)) >"$d/choiceslong.bin"
  }
  make_once "choiceslong-$long_seconds-$seconds" make_long
  write_cue choiceslong
fi
rss_lines=()
for option in "-q 6" "--flac"; do
  log "peak RSS: $option"
  # shellcheck disable=SC2086
  short=$(for i in 1 2 3; do rss_run choices1min $option; done | median)
  if ((long_seconds > 0)); then
    # shellcheck disable=SC2086
    long=$(rss_run choiceslong $option)
    growth=$((long - short))
    rss_lines+=("  $option: $long KB for $((long_seconds / 60)) min, $short KB for 1 min: difference $growth KB (target < 1024 KB) $(verdict "${growth#-}" 1023)")
  else
    rss_lines+=("  $option: $short KB for 1 min (long run skipped)")
  fi
done
load_after=$(cat /proc/loadavg)

row() { printf '  %-10s %13s %14s\n' "$@"; }
echo
echo "== audio choices: $seconds s of 44100 Hz stereo PCM ($(stat -c %s "$d/choices.bin") bytes), $rounds rounds, $(date -u '+%Y-%m-%d %H:%M') UTC"
echo "  load average before: $load_before; after: $load_after"
row '' 'median wall s' 'median CPU s'
for c in "${commands[@]}"; do row "$c" "$(col "$c" 2)" "$(col "$c" 3)"; done
echo "  (per-round figures in $results)"
echo "  -q 6 / oggenc -q 6, paired median  $q6_ratio (target <= 1.05) $(verdict "$q6_ratio" 1.05) [CPU $(paired tc_q6 oggenc_q6 3)]; decoded PCM identical: $q6_same"
echo "  --flac / flac -5, paired median    $flac_ratio (target <= 1.05) $(verdict "$flac_ratio" 1.05) [CPU $(paired tc_flac flac5 3)]; decodes to the input: $flac_same; flac -t: $flac_tested"
echo "  sizes: -q 1 $size_q1 bytes ($(kbits "$size_q1") kbit/s), -q 3 $size_q3 ($(kbits "$size_q3")), -q 6 $size_q6 ($(kbits "$size_q6")), FLAC $size_flac ($(kbits "$size_flac")); PCM $(stat -c %s "$d/choices.bin")"
echo "  peak RSS (/usr/bin/time %M):"
printf '%s\n' "${rss_lines[@]}"
