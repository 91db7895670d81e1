#!/usr/bin/env bash
# Windows audio benchmark: the same 5-minute AUDIO track (the music-like PCM
# of audio_track.sh) encoded by the Linux build and by the 32-bit .exe under
# wine on this machine, interleaved (order rotated each round), ROUNDS
# rounds (default 5), medians of wall and CPU time, and the .exe/Linux
# ratio. Then how far the two .ogg files decode apart. Prints the figures and
# exits 0. The .exe is build-win32/trackcarve.exe (windows/ci.sh builds it),
# or TRACKCARVE_EXE=path; BASELINE_EXE=path times another .exe beside it
# (an older build, say). Wine runs in a prefix of its own in $BENCH_DIR,
# made on the first run (~10 s); TRACKCARVE_WINEPREFIX names another.
#
#   bench/windows_audio.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=${AUDIO_SECONDS:-300}
exe=${TRACKCARVE_EXE:-$repo/build-win32/trackcarve.exe}
baseline=${BASELINE_EXE:-}
run_wine=$repo/windows/run-wine.sh
export TRACKCARVE_WINEPREFIX=${TRACKCARVE_WINEPREFIX:-$bench_dir/wine32}
export LC_ALL=C.UTF-8

need_packages vorbis-tools g++
find_trackcarve
build_helpers
for program in "$exe" ${baseline:+"$baseline"}; do
  [ -f "$program" ] || die "no $program; build it with windows/ci.sh"
done
command -v wine >/dev/null || die "wine is missing; windows/setup.sh installs it"

d=$bench_dir
# Named by its length: audio_track.sh's audio.bin may be of another.
pcm=$d/windows-audio-$seconds.bin
make_once "windows-audio-$seconds" "$gen" audio "$seconds" "$pcm"
# One folder per program, the BIN hard-linked into each: no output is
# shared, and no program reads another's copy of the input.
for name in linux exe baseline; do
  mkdir -p "$d/win-$name"
  ln -f "$pcm" "$d/win-$name/audio.bin"
  printf 'FILE "audio.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$d/win-$name/audio.cue"
done

run_in() { # run_in OUT_VAR NAME COMMAND...: runs it in win-NAME on a fresh output folder
  local var=$1 name=$2
  shift 2
  rm -rf "$d/win-$name/audio"
  sync
  cd "$d/win-$name"
  run_timed "$var" "$@" audio.cue
  cd "$repo"
}
run_linux() { run_in "$1" linux "$trackcarve"; }
run_exe() { run_in "$1" exe "$run_wine" "$exe"; }
run_baseline() { run_in "$1" baseline "$run_wine" "$baseline"; }
commands=(linux exe)
[ -z "$baseline" ] || commands+=(baseline)

# One wineserver for all runs, stopped however the script ends.
trap '"$run_wine" --end >/dev/null 2>&1 || true' EXIT
"$run_wine" --begin

load_before=$(uptime)
log "warming up"
cat "$pcm" >/dev/null
for c in "${commands[@]}"; do run_"$c" ignored; done

results=$d/windows_audio_results.txt
time_rounds "$results"
load_after=$(uptime)

# The two builds' floating point differs: how far apart do they decode?
oggdec -Q -R -o "$d/linux.pcm" "$d/win-linux/audio/track1.ogg"
oggdec -Q -R -o "$d/exe.pcm" "$d/win-exe/audio/track1.ogg"
if cmp -s "$d/linux.pcm" "$d/exe.pcm"; then
  apart="bit-identical"
else
  apart=$(paste <(od -An -v -td2 -w2 "$d/exe.pcm") <(od -An -v -td2 -w2 "$d/linux.pcm") |
    awk '{ e = $1 - $2; diff += e * e; signal += $2 * $2 } END { printf "%.5f of the signal RMS", sqrt(diff / signal) }')
fi
rm -f "$d/linux.pcm" "$d/exe.pcm"

col() { awk -v c="$1" -v f="$2" '$1 == c { print $f }' "$results" | median; }
low() { awk -v c="$1" '$1 == c { print $2 }' "$results" | sort -g | head -n 1; }
row() { printf '  %-9s %13s %12s %14s\n' "$@"; }

echo
echo "== audio track under wine: $seconds s of 44100 Hz stereo PCM, $rounds rounds, $(date -u +%Y-%m-%d)"
echo "  $(wine --version), $(nproc) cores; load average before: $(sed 's/.*load average: //' <<<"$load_before"), after: $(sed 's/.*load average: //' <<<"$load_after")"
row '' 'median wall s' 'min wall s' 'median CPU s'
for c in "${commands[@]}"; do row "$c" "$(col "$c" 2)" "$(low "$c")" "$(col "$c" 3)"; done
echo "  (CPU = user + system of the program, wine's own start-up included; per-round figures in $results)"
for c in "${commands[@]:1}"; do
  echo "  $c/linux: wall $(ratio "$(col "$c" 2)" "$(col linux 2)"), CPU $(ratio "$(col "$c" 3)" "$(col linux 3)")"
done
echo "  decoded .exe output vs Linux output: $apart"
