#!/usr/bin/env bash
# End-to-end checks of the 32-bit Windows build, run under wine:
#
#   windows/test-under-wine.sh [EXE]     (default build-win32/trackcarve.exe)
#
# Runs trackcarve.exe as a user would from a command prompt and checks what it
# prints, its exit status and the files it writes, with Linux tools on this
# side (cmp, ogginfo, oggdec, oggenc, chdman). The sample disc comes from the Linux
# build's generator (build/make_sample_disc, or $TRACKCARVE_SAMPLE_TOOL);
# runs on file names outside ASCII are compared with the Linux build's own
# run on the same input (build/trackcarve, or $TRACKCARVE_LINUX).
# Prints one PASS/FAIL line per check, then "N passed, M failed"; exits 1 if
# any check failed (or the run stopped early). The scratch folder is kept
# when one did.
#
# Wine runs in a prefix of this job's own (created in ~10 s, removed at the
# end), so jobs side by side share no wineserver; set TRACKCARVE_WINEPREFIX
# to use another.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
export LC_ALL=C   # byte lengths and `ls` order, whatever the caller's locale

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
exe="$(realpath -m "${1:-$root/build-win32/trackcarve.exe}")"
sample_tool="${TRACKCARVE_SAMPLE_TOOL:-$root/build/make_sample_disc}"
linux_exe="${TRACKCARVE_LINUX:-$root/build/trackcarve}"
run_wine="$here/run-wine.sh"

work="$(mktemp -d "${TMPDIR:-/tmp}/trackcarve-wine.XXXXXX")"
own_prefix=
if [[ -z ${TRACKCARVE_WINEPREFIX:-} ]]; then
  # Beside the scratch folder, not in it: a prefix is ~600 MB, and the
  # scratch folder may be kept.
  own_prefix="$work.wine32"
  export TRACKCARVE_WINEPREFIX="$own_prefix"
fi
passed=${TRACKCARVE_CHECKS_PASSED:-0}   # windows/ci.sh counts its build steps
failed=0
all_run=0
wine_started=0

# However the script ends: stop wine (--end, or wine processes would outlive
# us), count an early stop as a failure, and print the summary line last.
finish() {
  local rc=$?
  ((wine_started == 0)) || timeout -k 5 60 "$run_wine" --end >/dev/null 2>&1 || true
  [[ -z $own_prefix ]] || rm -rf "$own_prefix" "$own_prefix".*
  if ((all_run == 0)); then
    failed=$((failed + 1))
    echo "FAIL stopped before the last check (status $rc)"
  fi
  if ((failed == 0)); then rm -rf "$work"; else echo "scratch folder kept: $work"; fi
  echo "$passed passed, $failed failed"
  ((failed == 0)) && exit 0 || exit 1
}
trap finish EXIT
trap 'exit 130' INT TERM

for tool in "$exe" "$sample_tool" "$linux_exe"; do
  [[ -x $tool ]] || { echo "$tool is missing; build it first"; exit 1; }
done
for tool in ogginfo oggdec oggenc vorbiscomment flac metaflac chdman i686-w64-mingw32-objdump timeout iconv localedef script; do
  command -v "$tool" >/dev/null || { echo "$tool not found"; exit 1; }
done

# One wineserver for all runs (0.1 s a run instead of 1.5 s). The first call
# may create the wine prefix (~10 s).
wine_started=1
timeout -k 5 120 "$run_wine" --begin

# --- helpers -------------------------------------------------------------------
fail() { echo "$*"; exit 1; }

# win DIR ARG...: runs trackcarve.exe in DIR; its stdout, stderr and exit
# status land in $work/out, $work/err and $status. Output goes to files, never
# to a pipe we read: nothing can keep us waiting for an end of file.
# Wine runs in a UTF-8 locale, as a Linux user's is: in the C locale it
# would read the file names on disk as ASCII. Its ANSI code page is then
# Windows-1252; wine_locale (and LOCPATH) choose another locale.
wine_locale=C.UTF-8
win() {
  local dir=$1; shift
  status=0
  (cd "$dir" && LC_ALL=$wine_locale timeout -k 5 60 "$run_wine" "$exe" "$@") >"$work/out" 2>"$work/err" </dev/null ||
    status=$?
  ((status != 124 && status != 137)) || fail "timed out"
}

# linux DIR ARG...: the Linux build's run, the same way, into $work/linux.out,
# $work/linux.err and $linux_status.
linux() {
  local dir=$1; shift
  linux_status=0
  (cd "$dir" && timeout -k 5 60 "$linux_exe" "$@") >"$work/linux.out" 2>"$work/linux.err" </dev/null ||
    linux_status=$?
}

# expect_bytes FILE TEXT: FILE holds exactly TEXT.
expect_bytes() {
  printf '%s' "$2" >"$work/expected"
  if ! cmp -s "$work/expected" "$1"; then
    echo "$1 differs; expected, then actual:"
    od -c "$work/expected" | head -n 20
    od -c "$1" | head -n 20
    exit 1
  fi
}

# The console streams are in text mode on Windows: every \n comes out CR LF.
expect_out() { expect_bytes "$work/out" "${1//$'\n'/$'\r\n'}"; }
expect_err() { expect_bytes "$work/err" "${1//$'\n'/$'\r\n'}"; }
expect_status() { [[ $status == "$1" ]] || fail "exit status $status, expected $1; stderr: $(<"$work/err")"; }

# A small disc: 10 data sectors, then 20 audio sectors of noise.
small_disc() { # small_disc DIR NAME
  mkdir -p "$1"
  head -c $((30 * 2352)) /dev/urandom >"$1/$2.bin"
  printf 'FILE "%s.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:10\r\n' \
    "$2" >"$1/$2.cue"
}
# What a run on it prints, into $console (printf -v keeps the final newline).
small_console() { # small_console CUE_NAME OUT_NAME
  printf -v console 'Open file %s\n\nCreating directory: %s\n\nCreating file: %s.toc\n\nProcessing file... track1.iso\nProcessing file... track2.ogg\nDone\n' \
    "$1" "$2" "$2"
}
small_toc=$'Leadin\r\ntrack1.iso 00:00:10\r\ntrack2.ogg 00:00:20\r\nLeadout\r\n'

# user_data BIN FIRST COUNT: the 2048 bytes after each MODE1 sector's 16-byte header.
user_data() {
  local sector
  for ((sector = $2; sector < $2 + $3; sector++)); do
    dd if="$1" bs=1 skip=$((sector * 2352 + 16)) count=2048 status=none
  done
}

# Windows path of a folder here: wine's Z: drive is the Linux root.
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# check NAME FUNCTION [ARGS]: runs one check in a subshell with errexit on.
check() {
  local name=$1; shift
  set +e
  ( set -e; "$@" ) >"$work/check.log" 2>&1
  local rc=$?
  set -e
  if ((rc == 0)); then
    passed=$((passed + 1)); echo "PASS $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"
    sed 's/^/    /' "$work/check.log" | head -n 40
  fi
}

# --- the checks ----------------------------------------------------------------

# Self-contained and stripped: a user copies one file, no DLLs beside it.
exe_file() {
  local header dlls
  header=$(i686-w64-mingw32-objdump -f -p "$exe")
  grep -q 'file format pei-i386' <<<"$header" || fail "not a 32-bit PE: $(head -n 3 <<<"$header")"
  grep -q 'Subsystem.*(Windows CUI)' <<<"$header" || fail "not a console program"
  grep -q 'symbols stripped' <<<"$header" || fail "not stripped"
  dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$header" | sort | tr '\n' ' ')
  echo "imports: $dlls"
  [[ $dlls == "KERNEL32.dll msvcrt.dll " ]] || fail "imports $dlls"
}

# One first line, the usage, a blank line, then cmd's prompt from "pause"
# (stdin is empty, so it returns at once; its words depend on the Windows).
usage_text() {
  win "$work"
  expect_status 0
  expect_err ""
  local first_line usage
  first_line=$(head -n 1 "$work/out")
  [[ $first_line == 'trackcarve '*$'\r' ]] || fail "first line: $first_line"
  usage="$first_line"$'\n\r\n Use:\r\n\r\n      trackcarve file.cue\r\n\r\n'
  head -c "${#usage}" "$work/out" >"$work/usage"
  expect_bytes "$work/usage" "$usage"
  tail -c +$((${#usage} + 1)) "$work/out" >"$work/prompt"
  [[ $(head -c 25 "$work/prompt") == "Press any key to continue" && $(wc -l <"$work/prompt") -le 1 ]] ||
    fail "after the usage: $(od -c "$work/prompt")"
}

# The sample disc, split from a copy in a folder of its own.
sample_console() { # sample_console NAME OUT_NAME
  printf -v console 'Open file %s.cue\n\nCreating directory: %s\n\nCreating file: %s.toc\n\nProcessing file... track1.iso\nProcessing file... track2.ogg\nProcessing file... track3.ogg\nProcessing file... track4.ogg\nDone\n' \
    "$1" "$2" "$2"
}
sample_toc=$'Leadin\r\ntrack1.iso 00:03:10\r\ntrack2.ogg 00:06:00\r\ntrack3.ogg 00:06:15\r\nPregap: 00:02:00\r\ntrack4.ogg 00:04:30\r\nLeadout\r\n'

sample_run() { # sample_run NAME OUT_NAME HOW: HOW is "absolute" (Z:\...) or "relative"
  local name=$1 out=$2 dir="$work/$1"
  mkdir -p "$dir"
  cp "$work/reference/$name.cue" "$work/reference/$name.bin" "$dir/"
  if [[ $3 == absolute ]]; then
    win "$work" "$(winpath "$dir")\\$name.cue"
  else
    win "$dir" "$name.cue"
  fi
  sample_console "$name" "$out"
  expect_out "$console"
  expect_err ""
  expect_status 0
}

# Two writer threads give what one gives, byte for byte: the console text,
# the TOC, the .iso and the emulator sheet; the .ogg files decode to the
# same samples (only their stream numbers may differ).
side_by_side() {
  local dir="$work/jobs" j n
  for j in 1 2; do
    mkdir -p "$dir/$j"
    cp "$work/reference/sample.cue" "$work/reference/sample.bin" "$dir/$j/"
    win "$dir/$j" -j "$j" sample.cue
    expect_status 0
    expect_err ""
    cp "$work/out" "$dir/out$j"
  done
  cmp "$dir/out1" "$dir/out2" || fail "the console text differs"
  for n in sample.toc sample.cue track1.iso; do
    cmp "$dir/1/sample/$n" "$dir/2/sample/$n" || fail "$n differs"
  done
  for n in 2 3 4; do
    oggdec -Q -R -o "$dir/one.raw" "$dir/1/sample/track$n.ogg"
    oggdec -Q -R -o "$dir/two.raw" "$dir/2/sample/track$n.ogg"
    cmp "$dir/one.raw" "$dir/two.raw" || fail "track$n.ogg decodes differently"
  done
}

sample_files() { # sample_files NAME OUT_NAME
  local dir="$work/$1/$2"
  [[ $(ls "$dir" | tr '\n' ' ') == "$2.cue $2.toc track1.iso track2.ogg track3.ogg track4.ogg " ]] ||
    fail "folder holds: $(ls "$dir")"
  expect_bytes "$dir/$2.toc" "$sample_toc"
  cmp "$work/reference/$1.iso" "$dir/track1.iso" || fail "track1.iso is not the ISO that went in"
}

# Each .ogg: ogginfo finds nothing wrong; 44.1 kHz stereo; exactly the
# track's frames (588 a sector); and it decodes to what the reference encoder
# (oggenc, same quality) makes of the same PCM. Both do their floating point
# in SSE2, but the compilers' choices and the maths libraries differ (MinGW's
# against glibc's), so the encoder's decisions now and then differ too: "the
# same" is that the two decodes differ by under 1 % of the signal's RMS
# (about 0.1 % is usual), where the coding noise itself is ~10 %.
sample_audio() { # sample_audio NAME OUT_NAME
  local dir="$work/$1/$2" bin="$work/reference/$1.bin" span n first count report
  for span in 2:235:450 3:685:465 4:1150:330; do
    IFS=: read -r n first count <<<"$span"
    report=$(ogginfo "$dir/track$n.ogg" 2>&1) || fail "ogginfo track$n.ogg: $report"
    grep -qE 'WARNING|ERROR' <<<"$report" && fail "ogginfo track$n.ogg: $report"
    grep -q '^Channels: 2$' <<<"$report" || fail "track$n.ogg: not stereo"
    grep -q '^Rate: 44100$' <<<"$report" || fail "track$n.ogg: not 44100 Hz"

    dd if="$bin" of="$work/source.raw" bs=2352 skip="$first" count="$count" status=none
    oggdec -Q -R -o "$work/ours.raw" "$dir/track$n.ogg"
    [[ $(stat -c %s "$work/ours.raw") == $((count * 2352)) ]] ||
      fail "track$n.ogg decodes to $(stat -c %s "$work/ours.raw") bytes, expected $((count * 2352))"
    oggenc -Q -r -R 44100 -C 2 -B 16 --raw-endianness 0 -q 1 -o "$work/reference.ogg" "$work/source.raw"
    oggdec -Q -R -o "$work/reference.raw" "$work/reference.ogg"
    paste <(od -An -v -td2 -w2 "$work/ours.raw") <(od -An -v -td2 -w2 "$work/reference.raw") \
          <(od -An -v -td2 -w2 "$work/source.raw") |
      awk -v track="$n" '{ d = $1 - $2; diff += d * d; signal += $3 * $3 }
        END { r = sqrt(diff / signal); printf "track%d.ogg vs reference: %.4f of the signal RMS\n", track, r; exit !(r < 0.01) }' ||
      fail "track$n.ogg does not decode like the reference encoder's output"
  done
}

# --flac: each .flac passes flac -t and decodes to exactly its track's
# bytes (lossless, so whatever the compiler's rounding); the TOC names the
# .flac files and the emulator sheet gives them the type word WAVE.
flac_run() {
  local dir="$work/flac" out span n first count
  mkdir -p "$dir"
  cp "$work/reference/sample.cue" "$work/reference/sample.bin" "$dir/"
  win "$dir" --flac sample.cue
  expect_status 0
  expect_err ""
  out="$dir/sample"
  expect_bytes "$out/sample.toc" "${sample_toc//.ogg/.flac}"
  grep -q $'^FILE "track2.flac" WAVE\r$' "$out/sample.cue" || fail "sample.cue: $(<"$out/sample.cue")"
  for span in 2:235:450 3:685:465 4:1150:330; do
    IFS=: read -r n first count <<<"$span"
    flac -t -s "$out/track$n.flac" || fail "flac -t track$n.flac"
    dd if="$work/reference/sample.bin" of="$work/source.raw" bs=2352 skip="$first" count="$count" status=none
    flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/ours.raw" "$out/track$n.flac"
    cmp -s "$work/source.raw" "$work/ours.raw" || fail "track$n.flac does not decode to its track's bytes"
  done
  [[ $(metaflac --export-tags-to=- "$out/track3.flac") == $'ENCODER=encoder_example\nTRACKNUMBER=3\nTRACKTOTAL=4' ]] ||
    fail "track3.flac tags: $(metaflac --export-tags-to=- "$out/track3.flac")"
}

# A second run uses the existing folder and overwrites what is in it.
second_run() {
  local dir="$work/sample/sample" n
  head -c 100000 /dev/zero >"$dir/track1.iso"
  head -c 5000 /dev/zero >"$dir/sample.toc"
  win "$work/sample" sample.cue
  # The tracks still as the record says are kept; the changed one is written again.
  sample_console sample sample
  for n in 2 3 4; do console=${console/Processing file... track$n/Keeping file... track$n}; done
  expect_out "$console"
  expect_status 0
  expect_bytes "$dir/sample.toc" "$sample_toc"
  cmp "$work/reference/sample.iso" "$dir/track1.iso"
}

# The owner record holds the sheet's name as typed and is compared without
# regard to case; a twin sheet of the folder is refused and changes nothing.
owner_check() {
  local dir="$work/owner"
  small_disc "$dir" game
  win "$dir" game.cue
  expect_status 0
  expect_bytes "$dir/game/.trackcarve-owner" "game.cue"
  [[ -f $dir/game/.trackcarve-lock ]] || fail "no .trackcarve-lock in the folder"
  win "$dir" GAME.CUE
  expect_status 0
  cp "$dir/game.cue" "$dir/game.v2.cue"
  cp -a "$dir/game" "$work/owner.before"
  win "$dir" game.v2.cue
  expect_out $'Open file game.v2.cue\n\nCreating directory: game\n\n'
  expect_err $'trackcarve: game holds the tracks of another sheet, "game.cue"; nothing was overwritten (-o DIR or --full-names gives this sheet a folder of its own)\n'
  expect_status 1
  diff -r "$work/owner.before" "$dir/game" || fail "the refused run changed the folder"
}

# A second run of the sheet, started while the first holds the folder (its
# TOC is there), waits for the first's last file before it writes: the
# sheet, replaced in between, gives the first run 3 minutes of audio and
# the second 20 sectors, so the folder ends with the second's files alone.
lock_wait() {
  local dir="$work/lock" first=0 tries pid
  mkdir -p "$dir"
  head -c $(((10 + 3 * 60 * 75) * 2352)) /dev/urandom >"$dir/long.bin"
  printf 'FILE "long.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:10\r\n' \
    >"$dir/game.cue"
  (cd "$dir" && LC_ALL=$wine_locale timeout -k 5 60 "$run_wine" "$exe" game.cue) >"$work/first.out" 2>&1 </dev/null &
  pid=$!
  for ((tries = 0; tries < 300; tries++)); do
    [[ -e $dir/game/game.toc ]] && break
    sleep 0.1
  done
  small_disc "$dir" short
  mv "$dir/short.cue" "$dir/game.cue"
  win "$dir" game.cue
  wait "$pid" || first=$?
  expect_status 0
  ((first == 0)) || fail "the first run: status $first: $(<"$work/first.out")"
  expect_bytes "$dir/game/game.toc" "$small_toc"
  oggdec -Q -R -o "$work/lock.raw" "$dir/game/track2.ogg"
  [[ $(stat -c %s "$work/lock.raw") == $((20 * 2352)) ]] || fail "track2.ogg is the first run's: the second did not wait"
}

syntax_error() {
  local dir="$work/syntax"
  mkdir -p "$dir"
  printf '\n\nTRACK 01 MODE1/2336\n' >"$dir/bad.cue"
  win "$dir" bad.cue
  expect_out $'Open file bad.cue\n\nError!! line 3 Invalid Track\n'
  expect_err "trackcarve: line 3: the track mode is 'MODE1/2336'; the modes read are AUDIO, MODE1/2352, MODE1/2048 and MODE2/2352"$'\n'
  expect_status 1
  [[ ! -e $dir/bad ]] || fail "the output folder was created"
}

missing_sheet() {
  win "$work" "nothing here.cue"
  expect_out $'Open file nothing here.cue\n\nError abriendo CUE\n'
  expect_err $'trackcarve: cannot open the sheet nothing here.cue: No such file or directory\n'
  expect_status 1
}

folder_as_sheet() {
  mkdir -p "$work/folder.cue"
  win "$work" folder.cue
  expect_out $'Open file folder.cue\n\nError abriendo CUE\n'
  expect_err $'trackcarve: cannot open the sheet folder.cue: it is a folder; name the CUE sheet to split\n'
  expect_status 1
}

toc_not_created() {
  local dir="$work/blocked"
  small_disc "$dir" disc
  printf 'a plain file holds the folder name' >"$dir/disc"
  win "$dir" disc.cue
  expect_out $'Open file disc.cue\n\nCreating directory: disc\n\nCreating file: disc.toc\n\nError creando TOC\n'
  expect_err $'trackcarve: cannot create the folder disc: a file has that name; move the file, or give a folder you can write to with -o DIR\n'
  expect_status 1
}

# Something reported on stderr makes the status 1 even though the run ends.
reported_problem() {
  local dir="$work/nobin"
  mkdir -p "$dir"
  printf 'TRACK 01 MODE1/2352\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n' >"$dir/nobin.cue"
  win "$dir" nobin.cue
  expect_out $'Open file nobin.cue\n\nCreating directory: nobin\n\nCreating file: nobin.toc\n\nDone\n'
  expect_err $'trackcarve: the sheet names no BIN file; no track file written\n'
  expect_status 1
}

# With several sheets, each stderr line begins with its sheet's name.
sheet_names() {
  local dir="$work/names"
  mkdir -p "$dir"
  printf 'TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n' >"$dir/nobin.cue"
  cp "$dir/nobin.cue" "$dir/My Disc.cue"
  win "$dir" nobin.cue "My Disc.cue"
  expect_err $'trackcarve: nobin.cue: the sheet names no BIN file; no track file written\ntrackcarve: My Disc.cue: the sheet names no BIN file; no track file written\n'
  expect_status 1
}

# --help: no line wider than 80 columns.
help_width() {
  win "$work" --help
  expect_status 0
  [[ $(head -c 17 "$work/out") == "Usage: trackcarve" ]] || fail "not the help: $(head -n 1 "$work/out")"
  ! tr -d '\r' <"$work/out" | grep -q '.\{81\}' || fail "wider than 80: $(tr -d '\r' <"$work/out" | grep '.\{81\}')"
}

# A disc of 10 data sectors and three minutes of noise: seconds to encode.
long_disc() { # long_disc DIR
  mkdir -p "$1"
  head -c $(((10 + 3 * 60 * 75) * 2352)) /dev/urandom >"$1/long.bin"
  printf 'FILE "long.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:10\r\n' \
    >"$1/long.cue"
}

# Standard error on a terminal (a console to the .exe): the progress line, with
# the percent, the time left and the speed; the dialogue in its file whole.
progress_line() {
  local dir="$work/progress"
  long_disc "$dir"
  (cd "$dir" && LC_ALL=$wine_locale timeout -k 5 60 script -qec \
    "'$run_wine' '$exe' long.cue >'$work/out' </dev/null" /dev/null) >"$work/terminal" 2>&1 </dev/null ||
    fail "status $?: $(<"$work/out")"
  small_console long.cue long
  expect_out "$console"
  # The console draws the line with escape sequences; the words stay.
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/terminal" >"$work/drawn"
  grep -q '[0-9]%,' "$work/drawn" || fail "no percent: $(head -c 400 "$work/drawn")"
  grep -q 'elapsed,' "$work/drawn" && grep -q 'left,' "$work/drawn" || fail "no times: $(head -c 400 "$work/drawn")"
  grep -q '[0-9]x' "$work/drawn" || fail "no speed: $(head -c 400 "$work/drawn")"
}

# Ctrl-C mid-track (wine turns SIGINT into the console's Ctrl-C event): the
# dialogue so far is in its file, the last line says what is left, and no
# temporary stays.
interrupted() {
  local dir="$work/interrupt" pid child tries status=0
  long_disc "$dir"
  (cd "$dir" && LC_ALL=$wine_locale timeout -k 5 60 "$run_wine" "$exe" -j 1 long.cue) >"$work/out" 2>"$work/err" </dev/null &
  pid=$!
  for ((tries = 0; tries < 300; tries++)); do
    [[ -n $(find "$dir/long" -name '.track2.ogg.*' -size +16k 2>/dev/null) ]] && break
    sleep 0.1
  done
  # The .exe's own process, under timeout and run-wine.sh.
  child=$pid
  while child=$(pgrep -P "$child" | head -n 1) && [[ -n $child ]]; do
    [[ $(ps -o comm= -p "$child") != trackcarve.exe ]] || break
  done
  [[ -n $child ]] || fail "no run to interrupt"
  kill -INT "$child"
  # (Wine's default Ctrl-C handler ends the process with status 0, Windows'
  # with STATUS_CONTROL_C_EXIT: the status is not checked.)
  wait "$pid" || status=$?
  # When wineserver ends the process with SIGKILL, run-wine.sh's shell says
  # "Killed" on the same stderr: not the .exe's words.
  sed -i '/run-wine\.sh: line [0-9]*: *[0-9]* Killed /d' "$work/err"
  expect_out $'Open file long.cue\n\nCreating directory: long\n\nCreating file: long.toc\n\nProcessing file... track1.iso\nProcessing file... track2.ogg\n'
  expect_err $'trackcarve: interrupted with 1 of 2 tracks complete; run the same command again to finish\n'
  [[ -z $(find "$dir/long" -name '*.trackcarve-tmp') ]] || fail "a temporary is left: $(ls -a "$dir/long")"
}

# A Windows path: backslashes, spaces and brackets in the name.
windows_path() {
  local dir="$work/paths/sub"
  small_disc "$dir" "My Game (Disc 1)"
  win "$work/paths" 'sub\My Game (Disc 1).cue'
  small_console "My Game (Disc 1).cue" MyGameDisc1
  expect_out "$console"
  expect_err ""
  expect_status 0
  expect_bytes "$dir/MyGameDisc1/MyGameDisc1.toc" "$small_toc"
  [[ $(stat -c %s "$dir/MyGameDisc1/track1.iso") == $((10 * 2048)) ]] || fail "track1.iso size"
  user_data "$dir/My Game (Disc 1).bin" 0 10 >"$work/expected.iso"
  cmp "$work/expected.iso" "$dir/MyGameDisc1/track1.iso" || fail "track1.iso bytes"
}

# A track 4.7 GB into a sparse BIN: the seek must be 64-bit on Windows too
# (a 32-bit long stops at 2 GiB).
far_track() {
  local dir="$work/far" far=2000000   # sectors; 444:26:50 as MM:SS:FF
  mkdir -p "$dir"
  head -c $((2 * 2352)) /dev/urandom >"$dir/tail.raw"
  truncate -s $((far * 2352)) "$dir/disc.bin"
  cat "$dir/tail.raw" >>"$dir/disc.bin"
  printf 'FILE "disc.bin" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 444:26:49\nTRACK 02 MODE1/2352\nINDEX 01 444:26:50\nTRACK 03 MODE1/2352\nINDEX 01 444:26:51\n' \
    >"$dir/disc.cue"
  win "$dir" disc.cue
  expect_err ""
  expect_status 0
  expect_bytes "$dir/disc/disc.toc" $'Leadin\r\ntrack1.iso 00:00:01\r\ntrack2.iso 00:00:01\r\ntrack3.iso 00:00:01\r\nLeadout\r\n'
  user_data "$dir/tail.raw" 0 1 >"$work/expected.iso"
  cmp "$work/expected.iso" "$dir/disc/track2.iso" || fail "track2.iso bytes"
  user_data "$dir/tail.raw" 1 1 >"$work/expected.iso"
  cmp "$work/expected.iso" "$dir/disc/track3.iso" || fail "track3.iso bytes"
  rm -f "$dir/disc.bin"
}

# The program expands * and ? (the Windows shell leaves that to programs);
# several sheets are split one after another, in name order.
wildcard_one() {
  local dir="$work/wild1"
  small_disc "$dir" only
  win "$dir" '*.cue'
  small_console only.cue only
  expect_out "$console"
  expect_status 0
  expect_bytes "$dir/only/only.toc" "$small_toc"
}

wildcard_two() {
  local dir="$work/wild2" both
  small_disc "$dir" b
  small_disc "$dir" a
  win "$dir" '*.cue'
  small_console a.cue a
  both=$console
  small_console b.cue b
  expect_out "$both$console"
  expect_status 0
  expect_bytes "$dir/a/a.toc" "$small_toc"
  expect_bytes "$dir/b/b.toc" "$small_toc"
}

wildcard_in_folder() {
  local dir="$work/wild3"
  small_disc "$dir/discs" game
  win "$dir" 'discs\g?m*.cue'
  small_console game.cue game
  expect_out "$console"
  expect_status 0
  expect_bytes "$dir/discs/game/game.toc" "$small_toc"
}

# No match: the pattern itself arrives, and is no sheet.
wildcard_no_match() {
  mkdir -p "$work/wild4"
  win "$work/wild4" '*.cue'
  expect_out $'Open file *.cue\n\nError abriendo CUE\n'
  expect_err $'trackcarve: cannot open the sheet *.cue: No such file or directory\n'
  expect_status 1
}

# --- names outside ASCII, long paths, device names ------------------------------
# Each runs the .exe and the Linux build on copies of the same input and
# compares what they print and write.

# same_console: the .exe printed what the Linux build did (in CR LF lines)
# and ended with the same status.
same_console() {
  sed 's/$/\r/' "$work/linux.out" >"$work/linux.out.crlf"
  sed 's/$/\r/' "$work/linux.err" >"$work/linux.err.crlf"
  cmp -s "$work/linux.out.crlf" "$work/out" || fail "stdout differs; Linux, then the .exe:
$(od -c "$work/linux.out.crlf" | head -n 12)
$(od -c "$work/out" | head -n 12)"
  cmp -s "$work/linux.err.crlf" "$work/err" || fail "stderr differs: $(<"$work/linux.err") / $(<"$work/err")"
  [[ $status == "$linux_status" ]] || fail "exit status $status, the Linux build's $linux_status"
}

# same_files WIN_FOLDER LINUX_FOLDER: the same TOC, emulator sheet and track
# files. The TOC, the sheet and every .iso are equal bytes; every .ogg
# decodes to as many samples as the Linux one, within 1 % of its RMS (the
# floating point of the two builds differs; see sample_audio).
same_files() {
  local ours=$1 theirs=$2 file name
  local names='s/^[^.]*\.toc$/TOC/; s/^[^.]*\.cue$/SHEET/'
  [[ $(ls "$ours" | sed "$names" | sort) == $(ls "$theirs" | sed "$names" | sort) ]] ||
    fail "files: $(ls "$ours" | tr '\n' ' ')/ Linux: $(ls "$theirs" | tr '\n' ' ')"
  cmp "$ours"/*.toc "$theirs"/*.toc || fail "TOC differs"
  cmp "$ours"/*.cue "$theirs"/*.cue || fail "emulator sheet differs"
  cmp "$ours/.trackcarve-owner" "$theirs/.trackcarve-owner" || fail "owner record differs"
  for file in "$theirs"/track*; do
    name=$(basename "$file")
    case $name in
      *.iso | *.bin) cmp "$ours/$name" "$file" || fail "$name differs" ;;
      *.flac)
        flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/ours.raw" "$ours/$name"
        flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/theirs.raw" "$file"
        cmp -s "$work/ours.raw" "$work/theirs.raw" || fail "$name does not decode like the Linux build's" ;;
      *.ogg)
        oggdec -Q -R -o "$work/ours.raw" "$ours/$name"
        oggdec -Q -R -o "$work/theirs.raw" "$file"
        [[ $(stat -c %s "$work/ours.raw") == $(stat -c %s "$work/theirs.raw") ]] || fail "$name: lengths differ"
        paste <(od -An -v -td2 -w2 "$work/ours.raw") <(od -An -v -td2 -w2 "$work/theirs.raw") |
          awk -v name="$name" '{ d = $1 - $2; diff += d * d; signal += $2 * $2 }
            END { r = signal > 0 ? sqrt(diff / signal) : 0; printf "%s vs Linux: %.5f of the signal RMS\n", name, r; exit !(r < 0.01) }' ||
          fail "$name does not decode like the Linux build's" ;;
    esac
  done
}

# A small disc like small_disc's, but with music (the sample disc's
# sectors 0-9 and 235-309): the two encoders' outputs of noise share little
# but their loudness, so only music shows whether they agree.
music_disc() { # music_disc DIR NAME
  mkdir -p "$1"
  { head -c $((10 * 2352)) "$work/reference/sample.bin"
    dd if="$work/reference/sample.bin" bs=2352 skip=235 count=75 status=none; } >"$1/$2.bin"
  printf 'FILE "%s.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:10\r\n' \
    "$2" >"$1/$2.cue"
}

# as_linux NAME [SHEET_BYTES]: a music_disc NAME.cue + NAME.bin in $work/w/NAME
# and a copy in $work/l/NAME, the .exe run on one and the Linux build on the
# other, compared; $out_name is the output folder. SHEET_BYTES, if given, is
# a file that replaces the .exe's sheet (an encoding Linux does not read).
as_linux() {
  local name=$1
  music_disc "$work/l/$name" "$name"
  mkdir -p "$work/w/$name"
  cp "$work/l/$name/$name.cue" "$work/l/$name/$name.bin" "$work/w/$name/"
  [[ -z ${2:-} ]] || cp "$2" "$work/w/$name/$name.cue"
  win "$work/w/$name" "$name.cue"
  linux "$work/l/$name" "$name.cue"
  same_console
  same_files "$work/w/$name/$out_name" "$work/l/$name/$out_name"
}

utf8_name() { out_name=Caf; as_linux 'Café'; }           # the UTF-8 sheet names Café.bin
cjk_name() { out_name=disc; as_linux '日本'; }
emoji_name() { out_name=disc; as_linux 'disc🎵'; }       # outside the BMP: a surrogate pair

# A Windows-1252 sheet (one saved for the narrow Windows calls) naming
# Café.bin: read in the ANSI code page, as it is not valid UTF-8.
ansi_sheet() {
  music_disc "$work/ansi" 'Café 1252'
  iconv -f UTF-8 -t WINDOWS-1252 "$work/ansi/Café 1252.cue" >"$work/ansi.cue"
  grep -qF $'Caf\xe9 1252.bin' "$work/ansi.cue" || fail "not a Windows-1252 sheet"
  out_name=Caf1252
  as_linux 'Café 1252' "$work/ansi.cue"
}

# A sheet in a folder outside ASCII, given with an absolute Z:\ path.
folder_name() {
  local dir="$work/l/音楽 Ärger" mine="$work/w/音楽 Ärger"
  music_disc "$dir" game
  mkdir -p "$mine"
  cp "$dir"/game.* "$mine/"
  win "$work" "$(winpath "$mine")\game.cue"
  linux "$work" "$dir/game.cue"
  same_console
  same_files "$mine/game" "$dir/game"
}

# *.cue in a folder whose only sheet has a name outside the ANSI code page.
wildcard_name() {
  music_disc "$work/l/wild" '日本'
  mkdir -p "$work/w/wild"
  cp "$work/l/wild/"* "$work/w/wild/"
  win "$work/w/wild" '*.cue'
  linux "$work/l/wild" '日本.cue'
  same_console
  same_files "$work/w/wild/disc" "$work/l/wild/disc"
}

# A Japanese Windows (ANSI code page 932): the second byte of ソ in Shift-JIS
# is 0x5C, a '\'. The sheet is in Shift-JIS, as such a system writes it.
shift_jis() {
  local locales="$work/locales"
  if [[ ! -d $locales/ja_JP.UTF-8 ]]; then
    mkdir -p "$locales"
    localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" || fail "localedef ja_JP.UTF-8 failed"
  fi
  music_disc "$work/sjis" 'ソフト'
  iconv -f UTF-8 -t SHIFT_JIS "$work/sjis/ソフト.cue" >"$work/sjis.cue"
  grep -qF $'\x83\\' "$work/sjis.cue" || fail "no 0x5C trail byte in the sheet"
  export LOCPATH=$locales
  wine_locale=ja_JP.UTF-8
  out_name=disc
  as_linux 'ソフト' "$work/sjis.cue"
}

# FILE names as sheets made on Windows give them: "Bins\DISC.BIN" in a
# folder below the sheet, and GAME.BIN for the game.bin beside it. Windows
# finds either in any letter case; the Linux build is given the names in
# the files' own case below the sheet, and finds the other in any case too.
bin_lookup() {
  local name
  for name in below beside; do
    music_disc "$work/l/$name" disc
    mkdir -p "$work/w/$name"
    cp "$work/l/$name/disc.bin" "$work/l/$name/disc.cue" "$work/w/$name/"
  done
  for side in l w; do
    mkdir -p "$work/$side/below/Bins"
    mv "$work/$side/below/disc.bin" "$work/$side/below/Bins/disc.bin"
    mv "$work/$side/beside/disc.bin" "$work/$side/beside/GAME.BIN"
  done
  sed -i 's/FILE "disc.bin"/FILE "Bins\\disc.bin"/' "$work/l/below/disc.cue"
  sed -i 's/FILE "disc.bin"/FILE "Bins\\DISC.BIN"/' "$work/w/below/disc.cue"
  sed -i 's/FILE "disc.bin"/FILE "game.bin"/' "$work/l/beside/disc.cue" "$work/w/beside/disc.cue"
  for name in below beside; do
    win "$work/w/$name" disc.cue
    linux "$work/l/$name" disc.cue
    expect_status 0
    same_console
    same_files "$work/w/$name/disc" "$work/l/$name/disc"
  done
}

# Notepad's "Unicode": a UTF-16 sheet with its mark, as the Linux build; a
# BIN given for the sheet: one line on stderr, status 1, nothing made.
utf16_sheet() {
  music_disc "$work/l/wide" wide
  iconv -f UTF-8 -t UTF-16 "$work/l/wide/wide.cue" >"$work/wide.cue"
  [[ $(head -c 2 "$work/wide.cue" | od -An -tx1) == " ff fe" ]] || fail "no UTF-16 mark"
  cp "$work/wide.cue" "$work/l/wide/wide.cue"
  out_name=wide
  as_linux wide "$work/wide.cue"
  expect_status 0
  win "$work/w/wide" wide.bin
  expect_out $'Open file wide.bin\n\n'
  expect_err $'trackcarve: wide.bin is not a CUE sheet: it looks like a BIN of raw CD sectors; give the .cue sheet that names it instead\n'
  expect_status 1
  [[ $(ls "$work/w/wide") == $'wide\nwide.bin\nwide.cue' ]] || fail "made: $(ls "$work/w/wide")"
}

# CD-TEXT in code page 1251 and in Shift JIS, read with --text-encoding by
# the Windows code page API: the tags the Linux build (iconv) gives; without
# the option, the same one line on stderr.
text_encoding() {
  local encoding tags album
  for encoding in cp1251 shift_jis; do
    [[ $encoding == cp1251 ]] && album='Альбом' || album='日本語'
    music_disc "$work/l/$encoding" disc
    printf 'TITLE "%s"\r\n' "$album" | iconv -f UTF-8 -t "$encoding" >"$work/$encoding.cue"
    cat "$work/l/$encoding/disc.cue" >>"$work/$encoding.cue"
    cp "$work/$encoding.cue" "$work/l/$encoding/disc.cue"
    mkdir -p "$work/w/$encoding"
    cp "$work/l/$encoding/disc.bin" "$work/l/$encoding/disc.cue" "$work/w/$encoding/"
    win "$work/w/$encoding" --text-encoding "$encoding" disc.cue
    linux "$work/l/$encoding" --text-encoding "$encoding" disc.cue
    expect_status 0
    same_console
    tags=$(vorbiscomment -l -R "$work/w/$encoding/disc/track2.ogg")
    [[ $tags == "$(vorbiscomment -l -R "$work/l/$encoding/disc/track2.ogg")" ]] || fail "$encoding tags differ: $tags"
    [[ $tags == *"ALBUM=$album"* ]] || fail "$encoding: no ALBUM=$album in $tags"
    win "$work/w/$encoding" disc.cue
    linux "$work/l/$encoding" disc.cue
    expect_status 1
    same_console
  done
  win "$work/w/cp1251" --text-encoding no-such-code disc.cue
  expect_status 2
}

# A sheet path of 300 characters, past MAX_PATH (260): given plainly, then
# with \\?\ in front; the output folder is a path as long.
long_path() {
  local dir="$work/l/long" mine="$work/w/long" segment path
  segment=$(printf 'x%.0s' {1..50})
  # Z: + the folder + \disc.cue
  while ((2 + ${#mine} + 9 < 300)); do dir+="/$segment"; mine+="/$segment"; done
  music_disc "$dir" disc
  mkdir -p "$mine"
  cp "$dir"/disc.* "$mine/"
  path="$(winpath "$mine")\\disc.cue"
  ((${#path} >= 300)) || fail "path of ${#path} characters"
  linux "$work" "$dir/disc.cue"
  win "$work" "$path"
  same_console
  same_files "$mine/disc" "$dir/disc"
  rm -rf "$mine/disc"
  win "$work" "\\\\?\\$path"
  same_console
  same_files "$mine/disc" "$dir/disc"
}

# Con!.cue gives the name CON, a device in every Windows folder: the output
# goes to disc instead. Linux keeps Con.
device_name() {
  music_disc "$work/l/con" 'Con!'
  mkdir -p "$work/w/con"
  cp "$work/l/con/"* "$work/w/con/"
  win "$work/w/con" 'Con!.cue'
  linux "$work/l/con" 'Con!.cue'
  sed -i 's/^Creating directory: Con$/Creating directory: disc/; s/^Creating file: Con\.toc$/Creating file: disc.toc/' \
    "$work/linux.out"
  same_console
  same_files "$work/w/con/disc" "$work/l/con/Con"
}

# -o: the output folder made, with its parents, in another folder; the BIN
# still read beside the sheet; the emulator sheet names the sheet by its
# full path, as Windows gives it.
output_elsewhere() {
  local dir="$work/elsewhere"
  small_disc "$dir/share" disc
  win "$dir" -o 'out\new' 'share\disc.cue'
  small_console disc.cue disc
  expect_out "$console"
  expect_err ""
  expect_status 0
  expect_bytes "$dir/out/new/disc/disc.toc" "$small_toc"
  [[ $(head -n 1 "$dir/out/new/disc/disc.cue") == "REM SOURCE \"$(winpath "$dir")\\share\\disc.cue\""$'\r' ]] ||
    fail "first line: $(head -n 1 "$dir/out/new/disc/disc.cue")"
  [[ $(ls "$dir/share" | tr '\n' ' ') == "disc.bin disc.cue " ]] || fail "the share holds: $(ls "$dir/share")"
}

# --full-names on two discs of a set: a folder each, named as the sheet,
# and the set's playlist beside them.
full_names() {
  local dir="$work/full" n
  for n in 2 1; do small_disc "$dir" "My Game (Disc $n)"; done
  win "$dir" --full-names '*.cue'
  expect_err ""
  expect_status 0
  for n in 1 2; do
    expect_bytes "$dir/My Game (Disc $n)/My Game (Disc $n).toc" "$small_toc"
    [[ -f "$dir/My Game (Disc $n)/My Game (Disc $n).cue" ]] || fail "no emulator sheet for disc $n"
  done
  expect_bytes "$dir/My Game.m3u" $'My Game (Disc 1)/My Game (Disc 1).cue\r\nMy Game (Disc 2)/My Game (Disc 2).cue\r\n'
}

# --skip-done after full_names: both skipped; after a BIN is touched, that
# disc is split again.
skip_done() {
  local dir="$work/full" skipped
  printf -v skipped 'Skipping My Game (Disc %s).cue: its split in My Game (Disc %s) is complete and up to date\n' 1 1 2 2
  win "$dir" --full-names --skip-done '*.cue'
  expect_out "$skipped"
  expect_status 0
  sleep 0.1
  touch "$dir/My Game (Disc 2).bin"
  win "$dir" --full-names --skip-done '*.cue'
  small_console "My Game (Disc 2).cue" "My Game (Disc 2)"
  expect_out "${skipped%%$'\n'*}"$'\n'"$console"
  expect_status 0
}

# The record of a split: a truncated track is split again by --skip-done,
# the other kept; then the split is skipped; another -q writes the audio
# track again and keeps the data track.
record_rerun() {
  local dir="$work/record" kept
  small_disc "$dir" game
  win "$dir" game.cue
  expect_status 0
  [[ -f "$dir/game/.trackcarve-record" ]] || fail "no record"
  head -c 1000 "$dir/game/track1.iso" >"$dir/cut" && mv "$dir/cut" "$dir/game/track1.iso"
  win "$dir" --skip-done game.cue
  small_console game.cue game
  expect_out "${console/Processing file... track2/Keeping file... track2}"
  [[ $(stat -c %s "$dir/game/track1.iso") == $((10 * 2048)) ]] || fail "track1.iso not written again"
  win "$dir" --skip-done game.cue
  expect_out $'Skipping game.cue: its split in game is complete and up to date\n'
  win "$dir" --skip-done -q 3 game.cue
  expect_out "${console/Processing file... track1/Keeping file... track1}"
  expect_status 0
}

# --report refused before anything is done: a sheet of the call (the name
# forgotten) and a file in an output folder.
report_refused() {
  local dir="$work/report"
  small_disc "$dir" a
  small_disc "$dir" b
  win "$dir" --report a.cue b.cue
  expect_status 2
  expect_err $'trackcarve: --report a.cue: that file holds something other than report lines; give the report a new file, or one that holds earlier reports\n'
  [[ ! -e "$dir/b" ]] || fail "b.cue was split"
  win "$dir" a.cue
  win "$dir" --report 'a\track1.iso' a.cue
  expect_status 2
  expect_err $'trackcarve: --report a\\track1.iso: that lies in the output folder of a.cue; give the report a file outside the output folders\n'
}

# -o naming the sheet's own folder in other letter case, which Windows takes
# for the same folder: refused by what the folder is, nothing written.
own_folder() {
  local dir="$work/own"
  small_disc "$dir/lib/Game" Game
  win "$dir" -o LIB 'lib\Game\Game.cue'
  expect_status 1
  expect_out $'Open file Game.cue\n\nCreating directory: Game\n\n'
  [[ $(ls -A "$dir/lib/Game") == $'Game.bin\nGame.cue' ]] || fail "files written among the sources: $(ls -A "$dir/lib/Game")"
}

# Playlists: a set named "#1 Hits" gets lines that begin "./", which m3u
# readers take for paths; an empty file at a playlist's name is kept.
playlists() {
  local dir="$work/lists" n
  for n in 1 2; do small_disc "$dir" "#1 Hits (Disc $n)"; small_disc "$dir" "Kept (Disc $n)"; done
  : >"$dir/Kept.m3u"
  win "$dir" --full-names '*.cue'
  expect_status 1
  expect_bytes "$dir/#1 Hits.m3u" $'./#1 Hits (Disc 1)/#1 Hits (Disc 1).cue\r\n./#1 Hits (Disc 2)/#1 Hits (Disc 2).cue\r\n'
  expect_bytes "$dir/Kept.m3u" ""
}

# --raw-data, where the .exe copies with plain reads and writes: the sample
# MODE2 disc as one file per track (track 1 runs into track 2's file), and a
# BIN that ends inside track 1, whose missing sectors are zeros. The bytes
# and the console text of the Linux build, which copies inside the kernel.
raw_data() {
  local l="$work/l/raw" w="$work/w/raw" name
  mkdir -p "$l" "$w"
  "$sample_tool" "$l" --mode2 --redump >/dev/null
  head -c $((6 * 2352)) /dev/urandom >"$l/cut.bin"
  printf 'FILE "cut.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 MODE2/2352\r\n    INDEX 01 00:00:08\r\n' \
    >"$l/cut.cue"
  cp "$l"/*.bin "$l"/*.cue "$w/"
  win "$w" --raw-data sample_redump_mode2.cue
  linux "$l" --raw-data sample_redump_mode2.cue
  same_console
  expect_status 0
  same_files "$w/sampleredumpmode2" "$l/sampleredumpmode2"
  win "$w" --raw-data cut.cue
  linux "$l" --raw-data cut.cue
  same_console
  grep -q 'track1.bin: the BIN ends 2 sectors before' "$work/err" || fail "no padding reported: $(<"$work/err")"
  [[ $(ls "$w/cut" | tr '\n' ' ') == "cut.toc track1.bin track2.bin " ]] || fail "cut/ holds: $(ls "$w/cut")"
  for name in cut.toc track1.bin track2.bin; do
    cmp "$w/cut/$name" "$l/cut/$name" || fail "cut/$name differs"
  done
}

# --lossless and --restore: the Linux build's bytes. Each .flac decodes to
# the Linux one's samples (its bytes may differ, as libFLAC's analysis is in
# floating point); every other file of the folder, the manifest among them,
# is the same bytes. The .exe's --restore gives back the source byte for
# byte, from its own folder and, by a Z:\ path, from the Linux build's.
lossless_restore() {
  local l="$work/l/keep" w="$work/w/keep" name
  mkdir -p "$l" "$w"
  "$sample_tool" "$l" --redump >/dev/null
  cp "$l"/*.bin "$l"/*.cue "$w/"
  win "$w" --lossless --hash sample_redump.cue
  linux "$l" --lossless --hash sample_redump.cue
  same_console
  expect_status 0
  # The .exe's folder also holds its lock file, .trackcarve-lock.
  [[ $(ls -A "$w/sampleredump" | grep -vx .trackcarve-lock) == $(ls -A "$l/sampleredump") ]] ||
    fail "files: $(ls -A "$w/sampleredump" | tr '\n' ' ')/ Linux: $(ls -A "$l/sampleredump" | tr '\n' ' ')"
  for name in $(ls -A "$l/sampleredump"); do
    # The record holds the times the files were written and the sources' identities.
    if [[ $name == .trackcarve-record ]]; then
      continue
    elif [[ $name == *.flac ]]; then
      flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/ours.raw" "$w/sampleredump/$name"
      flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/theirs.raw" "$l/sampleredump/$name"
      cmp "$work/ours.raw" "$work/theirs.raw" || fail "$name decodes to other samples"
    else
      cmp "$w/sampleredump/$name" "$l/sampleredump/$name" || fail "$name differs"
    fi
  done
  win "$w" --restore -o back sampleredump
  expect_status 0
  win "$w" --restore -o back2 "$(winpath "$l/sampleredump")"
  expect_status 0
  for name in sample_redump.cue "sample_redump (Track "{1..4}").bin"; do
    cmp "$w/back/$name" "$l/$name" || fail "restored $name differs"
    cmp "$w/back2/$name" "$l/$name" || fail "$name restored from the Linux folder differs"
  done
}

# A CHD of the sample (chdman's default codecs: LZMA, deflate and FLAC
# hunks), read by the .exe to the Linux build's console text and files: the
# raw data track, the .ogg files as same_files compares them, and .flac
# files that decode to the same samples.
chd_sample() {
  local w="$work/chd/w" l="$work/chd/l" name
  mkdir -p "$w" "$l"
  chdman createcd -i "$work/reference/sample.cue" -o "$l/Sample.chd" >/dev/null 2>&1 || fail "chdman createcd failed"
  cp "$l/Sample.chd" "$w/"
  win "$w" --raw-data Sample.chd
  linux "$l" --raw-data Sample.chd
  same_console
  expect_status 0
  same_files "$w/Sample" "$l/Sample"
  win "$w" --flac -o flac Sample.chd
  linux "$l" --flac -o flac Sample.chd
  same_console
  expect_status 0
  for name in track2.flac track3.flac track4.flac; do
    cmp <(flac -d -s -c --force-raw-format --endian=little --sign=signed "$w/flac/Sample/$name") \
      <(flac -d -s -c --force-raw-format --endian=little --sign=signed "$l/flac/Sample/$name") ||
      fail "$name does not decode to the Linux build's samples"
  done
}

# Sheets in a .zip (bsdtar's), and an ISO beside a WAVE file (sox's), split
# with --flac and --raw-data: the Linux build's console text and files.
archive_and_wave() {
  local l="$work/l/input" w="$work/w/input" args
  mkdir -p "$l/disc" "$w"
  cp "$work/reference/sample.cue" "$work/reference/sample.bin" "$l/disc/"
  (cd "$l/disc" && bsdtar -a -cf ../game.zip sample.cue sample.bin)
  cp "$work/reference/sample.iso" "$l/game.iso"
  dd if="$work/reference/sample.bin" of="$l/music.raw" bs=2352 skip=235 status=none
  sox -t raw -r 44100 -c 2 -b 16 -e signed -L "$l/music.raw" "$l/music.wav"
  printf 'FILE "game.iso" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\nFILE "music.wav" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:00\r\n' \
    >"$l/mixed.cue"
  # One BIN a track: all but one read straight from the zip.
  "$sample_tool" "$l/disc" --redump >/dev/null
  (cd "$l/disc" && bsdtar -a -cf ../redump.zip sample_redump.cue sample_redump\ \(Track*)
  rm -rf "$l/disc" "$l/music.raw"
  cp "$l"/* "$w/"
  for args in "--flac game.zip" "--flac redump.zip" "--flac mixed.cue" "--raw-data mixed.cue"; do
    win "$w" $args
    linux "$l" $args
    same_console
    expect_status 0
  done
  same_files "$w/sample" "$l/sample"
  same_files "$w/sampleredump" "$l/sampleredump"
  same_files "$w/mixed" "$l/mixed"
  [[ -z $(find "$w" -name '*trackcarve-tmp') ]] || fail "a temporary is left: $(find "$w" -name '*trackcarve-tmp')"
}

# A wineserver already running (an earlier --begin, or one left by an earlier
# job) is used, not an error; runs go on after it.
second_begin() {
  timeout -k 5 60 "$run_wine" --begin || fail "--begin: status $?"
  timeout -k 5 60 "$run_wine" --begin || fail "second --begin: status $?"
  win "$work" "nothing here.cue"
  expect_status 1
}

# --- run -----------------------------------------------------------------------
mkdir -p "$work/reference"
"$sample_tool" "$work/reference" >/dev/null
"$sample_tool" "$work/reference" --mode2 >/dev/null

check "exe: 32-bit console, stripped, imports only KERNEL32.dll and msvcrt.dll" exe_file
check "usage: no argument prints the usage, then pause's prompt; status 0" usage_text
check "sample MODE1 (Z:\\ path): console text, status 0, empty stderr" sample_run sample sample absolute
check "sample MODE1: TOC bytes, track1.iso equals the reference ISO" sample_files sample sample
check "sample MODE1: .ogg files pass ogginfo, exact lengths, decode like oggenc" sample_audio sample sample
check "sample MODE2 (relative path): console text, status 0, empty stderr" sample_run sample_mode2 samplemode2 relative
check "sample MODE2: TOC bytes, track1.iso equals the reference ISO" sample_files sample_mode2 samplemode2
check "sample MODE2: .ogg files pass ogginfo, exact lengths, decode like oggenc" sample_audio sample_mode2 samplemode2
check "-j 2 gives the bytes of -j 1: console text, TOC, .iso, sheet, decoded .ogg" side_by_side
check "a CHD of the sample: the Linux build's console text, raw data track, sheet, audio" chd_sample
check "--flac: .flac files pass flac -t and decode to their tracks' bytes; TOC, sheet word WAVE, tags" flac_run
check "second run reuses the folder, writes the changed track again and keeps the others; status 0" second_run
check "owner record: the sheet's name, case ignored; a twin sheet is refused, nothing changed" owner_check
check "folder lock: a second run of the sheet waits for the first to end" lock_wait
check "syntax error: 'Error!! line 3 Invalid Track', the mode on stderr, status 1, nothing created" syntax_error
check "missing sheet: 'Error abriendo CUE', the reason on stderr, status 1" missing_sheet
check "folder named like a sheet: 'Error abriendo CUE', 'it is a folder', status 1" folder_as_sheet
check "plain file where the folder goes: 'Error creando TOC', the file and -o DIR on stderr, status 1" toc_not_created
check "problem reported on stderr (no FILE line): status 1" reported_problem
check "several sheets: each stderr line begins with its sheet's name" sheet_names
check "--help: no line wider than 80 columns" help_width
check "progress line on a console: percent, time left, speed; the dialogue whole" progress_line
check "Ctrl-C mid-track: the dialogue so far in its file, a last word on stderr, no temporary" interrupted
check "backslashes and spaces: sub\\My Game (Disc 1).cue -> sub\\MyGameDisc1" windows_path
check "track 4.7 GB into a sparse BIN (64-bit seek)" far_track
check "wildcard: *.cue with one sheet splits it" wildcard_one
check "wildcard: *.cue with b.cue and a.cue splits a.cue, then b.cue" wildcard_two
check "wildcard: discs\\g?m*.cue finds discs\\game.cue" wildcard_in_folder
check "wildcard: *.cue without a match: 'Error abriendo CUE', no such file, status 1" wildcard_no_match
check "Café.cue, a UTF-8 sheet naming Café.bin: as the Linux build" utf8_name
check "日本.cue: as the Linux build" cjk_name
check "disc🎵.cue: as the Linux build" emoji_name
check "a Windows-1252 sheet naming Café.bin: as the Linux build with a UTF-8 one" ansi_sheet
check "a folder outside ASCII, Z:\ path: as the Linux build" folder_name
check "wildcard: *.cue finds 日本.cue: as the Linux build" wildcard_name
check "code page 932: ソフト.cue, a Shift-JIS sheet naming ソフト.bin: as the Linux build" shift_jis
check "FILE names: Bins\\DISC.BIN below the sheet, GAME.BIN for game.bin: found, as the Linux build" bin_lookup
check "a UTF-16 sheet: as the Linux build; a BIN given for the sheet: refused, nothing made" utf16_sheet
check "--text-encoding cp1251 and shift_jis: the Linux build's tags; without it, its warning" text_encoding
check "a sheet path of 300 characters, plain and \\?\: as the Linux build" long_path
check "Con!.cue: output in disc, not the device CON; else as the Linux build" device_name
check "-o out\\new: the output folder made with its parents; REM SOURCE names the sheet's full path" output_elsewhere
check "--full-names on a two-disc set: folders named as the sheets, and My Game.m3u" full_names
check "--skip-done: both discs skipped; after touching a BIN, that disc is split again" skip_done
check "--raw-data: one file per track, and a BIN cut short: as the Linux build" raw_data
check "--lossless and --restore: the Linux build's folder, and the source given back byte for byte" lossless_restore
check "a sheet in a .zip, and an ISO beside a WAVE file: as the Linux build" archive_and_wave
check "the record: --skip-done writes a truncated track again and keeps the other, then skips; -q 3 writes the audio again" record_rerun
check "--report naming a sheet of the call or a file in an output folder: status 2, nothing done" report_refused
check "-o naming the sheet's own folder in other letter case: refused, nothing written" own_folder
check "playlists: './' before a line that begins '#'; an empty file at the name is kept" playlists
check "run-wine.sh --begin twice in a row: status 0, runs go on" second_begin

all_run=1
