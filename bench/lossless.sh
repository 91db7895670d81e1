#!/usr/bin/env bash
# Keeping every byte, against the archivists' format and the plain reads:
#   - the 40-minute album (10 audio tracks, one BIN, 427 MB): `trackcarve
#     --lossless -j 2` against Debian's `chdman createcd` (mame-tools), and
#     `trackcarve --restore -j 2` of its folder against `chdman extractcd` of
#     the CHD, each pair in one round (interleaved, order rotated each round),
#     ALBUM_ROUNDS rounds (default 3); sizes of the folder and the CHD, and
#     the restored BIN and sheet against the source byte for byte;
#     ALBUM_ROUNDS=0 leaves the album out (neither made nor timed);
#   - the 300 MB data track (128000 MODE1/2352 sectors, random ECC, so it is
#     kept raw): `trackcarve --hash` against `md5sum` of the BIN, with the plain
#     split beside for scale, ROUNDS rounds (default 5); its hashes against
#     md5sum's and sha1sum's.
# Ratios are taken within a round and their median judged; the peak RSS of
# each, and the load average before and after, are printed. PASS/MISS per
# target; exits 0.
#
#   bench/lossless.sh
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
source "$(dirname "$0")/lib.sh"

album_rounds=${ALBUM_ROUNDS:-3}
sectors=${SECTORS:-128000}

need_packages mame-tools time g++ diffutils coreutils
find_trackcarve
build_helpers

d=$bench_dir
load_before=$(cat /proc/loadavg)
((album_rounds == 0)) || make_once album "$gen" album "$d/album.bin" "$d/album.cue"
make_once "data-$sectors" "$gen" data "$sectors" "$d/data.bin" "$d/data.expected.iso"
printf 'FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' >"$d/hashed.cue"
printf 'FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' >"$d/plain.cue"

run_lossless() { rm -rf "$d/album"; sync; run_timed "$1" "$trackcarve" --lossless -j 2 "$d/album.cue"; }
run_createcd() { rm -f "$d/album.chd"; sync; run_timed "$1" chdman createcd -f -i "$d/album.cue" -o "$d/album.chd"; }
run_restore() { rm -rf "$d/back"; sync; run_timed "$1" "$trackcarve" --restore -j 2 -o "$d/back" "$d/album"; }
run_extractcd() {
  rm -rf "$d/chd_back" && mkdir -p "$d/chd_back"; sync
  run_timed "$1" chdman extractcd -f -i "$d/album.chd" -o "$d/chd_back/album.cue" -ob "$d/chd_back/album.bin"
}
run_hash() { rm -rf "$d/hashed"; sync; run_timed "$1" "$trackcarve" --hash "$d/hashed.cue"; }
run_md5sum() { sync; run_timed "$1" md5sum "$d/data.bin"; }
run_plain() { rm -rf "$d/plain"; sync; run_timed "$1" "$trackcarve" "$d/plain.cue"; }

log "warming the page cache"
cat "$d/data.bin" >/dev/null
album_results=$d/lossless_album.txt
restore_results=$d/lossless_restore.txt
if ((album_rounds > 0)); then
  cat "$d/album.bin" >/dev/null
  commands=(lossless createcd)
  for c in "${commands[@]}"; do run_"$c" ignored; done
  rounds=$album_rounds time_rounds "$album_results"
  commands=(restore extractcd)
  rounds=$album_rounds time_rounds "$restore_results"
fi
commands=(hash md5sum plain)
for c in "${commands[@]}"; do run_"$c" ignored; done
hash_results=$d/lossless_hash.txt
time_rounds "$hash_results"
load_after=$(cat /proc/loadavg)

# paired FILE NAME OTHER [FIELD]: the median over rounds of NAME's wall time
# (FIELD 3: CPU time) over OTHER's.
paired() {
  local f=${4:-2}
  paste <(awk -v c="$2" -v f="$f" '$1 == c { print $f }' "$1") <(awk -v c="$3" -v f="$f" '$1 == c { print $f }' "$1") |
    awk '{ print $1 / $2 }' | median | awk '{ printf "%.3f", $1 }'
}
col() { awk -v c="$2" -v f="$3" '$1 == c { print $f }' "$1" | median; }
row() { printf '  %-10s %13s %13s %16s\n' "$@"; }
table() { # table FILE COMMAND...
  local file=$1 c
  shift
  row '' 'median wall s' 'median CPU s' 'median peak RSS KB'
  for c in "$@"; do row "$c" "$(col "$file" "$c" 2)" "$(col "$file" "$c" 3)" "$(col "$file" "$c" 4)"; done
}

log "checking the bytes"
same() { if cmp -s "$1" "$2"; then echo yes; else echo NO; fi; }
if ((album_rounds > 0)); then
  folder_size=$(du -b --apparent-size -s "$d/album" | cut -f1)
  tracks_size=$(cat "$d"/album/track*.flac | wc -c)
  chd_size=$(stat -c %s "$d/album.chd")
  restored_bin=$(same "$d/back/album.bin" "$d/album.bin")
  restored_cue=$(same "$d/back/album.cue" "$d/album.cue")
  chd_bin=$(same "$d/chd_back/album.bin" "$d/album.bin")
fi
hash_line=$("$trackcarve" --hash "$d/hashed.cue" | grep '^data.bin: ')
md5=$(md5sum "$d/data.bin" | cut -d' ' -f1)
sha1=$(sha1sum "$d/data.bin" | cut -d' ' -f1)
hashes_match=NO
[[ $hash_line == *"MD5 $md5, SHA-1 $sha1" ]] && hashes_match=yes
rm -rf "$d/back" "$d/chd_back" "$d/hashed" "$d/plain"

hash_ratio=$(paired "$hash_results" hash md5sum)

echo
echo "== keeping every byte, $(date -u '+%Y-%m-%d %H:%M') UTC"
echo "  load average before: $load_before"
echo "  load average after:  $load_after"
if ((album_rounds > 0)); then
  create_ratio=$(paired "$album_results" lossless createcd)
  restore_ratio=$(paired "$restore_results" restore extractcd)
  echo "  the album: $(stat -L -c %s "$d/album.bin") bytes of BIN, $album_rounds rounds"
  table "$album_results" lossless createcd
  table "$restore_results" restore extractcd
  echo "  lossless/createcd wall $create_ratio (target <= 0.2) $(verdict "$create_ratio" 0.2)  [CPU $(paired "$album_results" lossless createcd 3)]"
  echo "  restore/extractcd wall $restore_ratio (target <= 1.0) $(verdict "$restore_ratio" 1.0)  [CPU $(paired "$restore_results" restore extractcd 3)]"
  echo "  sizes: folder $folder_size bytes (its .flac files $tracks_size), CHD $chd_size: folder/CHD $(ratio "$folder_size" "$chd_size") (target <= 1.0) $(verdict "$folder_size" "$chd_size")"
  echo "  restored BIN and sheet identical to the source: $restored_bin, $restored_cue; chdman's BIN: $chd_bin"
else
  echo "  the album: left out (ALBUM_ROUNDS=0)"
fi
echo "  the data track: $((sectors * 2352)) bytes, $rounds rounds"
table "$hash_results" hash md5sum plain
echo "  hash/md5sum wall $hash_ratio (target <= 1.1) $(verdict "$hash_ratio" 1.1)  [CPU $(paired "$hash_results" hash md5sum 3); plain/md5sum wall $(paired "$hash_results" plain md5sum)]"
echo "  its MD5 and SHA-1 those of md5sum and sha1sum: $hashes_match"
