#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, demo and test
# trackcarve. Quick when everything is there already.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

packages=(
  cmake g++ make pkg-config             # build
  libvorbis-dev libogg-dev              # the encoder and Ogg framing
  nlohmann-json3-dev                    # the --report file's JSON (header-only)
  libflac-dev                           # the FLAC encoder (--flac), FLAC files a sheet names, CHD audio
  libexpat1-dev                         # the Logiqx XML DATs of --dat
  libgtest-dev                          # tests
  xorriso genisoimage                   # sample image and ISO checks in tests
  vorbis-tools                          # ogginfo and oggenc for the audio tests
  flac                                  # flac -t, flac -d and metaflac for the --flac tests
  mednafen dosbox ffmpeg                # emulators and ffprobe: real readers of CUE sheets and .ogg files
  clang libclang-rt-14-dev              # fuzzer and sanitizers
  valgrind
  jq                                    # the README's library recipe reads the report with it
  e2fsprogs                             # chattr, for an immutable file in the hostile-input table
  dpkg-dev file                         # cpack -G DEB: dpkg-shlibdeps finds the Depends
  mandoc groff-base man-db              # manual page lint (mandoc -Tlint, groff) and man -w
  parallel                              # GNU parallel, for the library recipe's test
  zlib1g-dev                            # zip and CHD members (deflate)
  libdeflate-dev                        # CRC32 of tracks
  nettle-dev                            # MD5 and SHA-1 of tracks (Nettle)
  libxxhash-dev                         # XXH3, the fast hash of output files
  libarchive-dev                        # disc images inside .zip and .7z archives
  liblzma-dev libzstd-dev libbz2-dev    # LZMA, zstd and bzip2 members of archives and CHD images
  sox                                   # test audio: tones, silence and WAVE files of any shape
  mame-tools                            # chdman: CHD images for the CHD reader's tests, and a restored image's data SHA-1
  libarchive-tools                      # bsdtar: .zip and .7z archives for the archive tests
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "install-deps.sh: installing ${#missing[@]} packages (a few minutes on a fresh machine): ${missing[*]}" >&2
  "$(dirname "$0")/apt-update.sh"
  "$(dirname "$0")/apt-install.sh" -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
