#!/usr/bin/env bash
# Runs every command of the README's examples, as a user would: each line that
# begins with "$ " inside a ``` block, in order, in one scratch folder that
# holds the discs they name (the sample disc under each name, in a .zip and as
# a CHD, and a DAT of it). Each must exit 0, except the emulators, which play
# until closed: DOSBox is run headless with each "-c" command's output caught
# on its drive C:, and must list the mounted disc's files; Mednafen is stopped
# after 10 s and must have read the disc's table of contents.
#
#   scripts/check-readme.sh BUILD_DIR [README]
set -euo pipefail
if [[ ${1:-} == -h || ${1:-} == --help || $# -lt 1 ]]; then
  sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
  exit $(($# < 1 ? 2 : 0))
fi
build=$(cd "$1" && pwd)
readme=$(cd "$(dirname "${2:-$(dirname "$0")/../README.md}")" && pwd)/$(basename "${2:-README.md}")
work=$(mktemp -d "${TMPDIR:-/tmp}/readme-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# --- the discs the examples name ---------------------------------------------
ln -s "$build" build
"$build/make_sample_disc" sample >/dev/null
cp sample/sample.bin .
for name in "My Game (Disc 1)" "Quest (Disc 1)" "Quest (Disc 2)" Album; do
  cp sample/sample.cue "$name.cue"
done
mkdir cds
cp sample/sample.bin cds/ && cp sample/sample.cue cds/first.cue
(cd sample && bsdtar -a -cf "$work/Game in a zip.zip" sample.cue sample.bin && cp "$work/Game in a zip.zip" "$work/cds/second.zip")
chdman createcd -i sample/sample.cue -o disc.chd >/dev/null 2>&1
cp disc.chd cds/third.chd
# A DAT as dump catalogues publish them: the game's files, sizes and hashes.
read -r crc < <(gzip -c sample.bin | tail -c 8 | od -An -tx4 -N4 | tr -d ' ')
cat >games.dat <<EOF
<?xml version="1.0"?>
<datafile>
  <header><name>README example</name></header>
  <game name="My Game (Disc 1)">
    <rom name="sample.bin" size="$(stat -c %s sample.bin)" crc="$crc" md5="$(md5sum <sample.bin | cut -d' ' -f1)" sha1="$(sha1sum <sample.bin | cut -d' ' -f1)"/>
  </game>
</datafile>
EOF
export PATH="$build:$PATH" HOME="$work/home" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"

# --- the emulators -----------------------------------------------------------
run_dosbox() { # the line's -c commands, each one's output into C:\OUTn.TXT
  local -a args=("$@") commands=() ; local i n=0
  for ((i = 0; i < ${#args[@]}; i++)); do
    [[ ${args[i]} == -c ]] && commands+=(-c "${args[i + 1]} > c:\\out$((n++)).txt") && i=$((i + 1))
  done
  rm -rf dosbox-c && mkdir dosbox-c
  timeout 20 dosbox -c "mount c \"$work/dosbox-c\"" "${commands[@]}" -c exit >dosbox.log 2>&1
  grep -qs "File(s)" "dosbox-c/OUT$((n - 1)).TXT" || { cat dosbox-c/*.TXT dosbox.log; return 1; }
}
run_mednafen() {
  local status=0
  timeout 10 "$@" >mednafen.log 2>&1 || status=$?
  ((status == 0 || status == 124)) && grep -q "Leadout:" mednafen.log || { cat mednafen.log; return 1; }
}

# --- the examples ------------------------------------------------------------
failed=0 count=0
while IFS= read -r line; do
  count=$((count + 1))
  rm -f out.log
  eval "words=($line)"
  case $line in
    dosbox*) run_dosbox "${words[@]:1}" ;;
    /usr/games/mednafen*) run_mednafen "${words[@]}" ;;
    *) bash -c "$line" >out.log 2>&1 ;;
  esac && echo "ok: $line" && continue
  echo "FAILED: $line"
  [[ -s out.log ]] && sed 's/^/    /' out.log
  failed=$((failed + 1))
done < <(awk '/^```/ { inside = !inside; next } inside && /^\$ / { print substr($0, 3) }' "$readme")
echo "$((count - failed)) of $count README commands ran as shown"
((failed == 0 && count > 0))
