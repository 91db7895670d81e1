#!/usr/bin/env bash
# Checks what a user installs, on Debian 12 as root (or with sudo):
#   1. the manual page lints cleanly (mandoc -Tlint, groff -ww);
#   2. `cmake --install build --prefix DIR` puts the program and the page,
#      and nothing else, under DIR;
#   3. `cpack -G DEB` makes trackcarve_<version>_<arch>.deb whose Depends
#      name the Vorbis and Ogg libraries and which holds only those two files;
#   4. `apt-get install ./trackcarve_*.deb` installs it, the installed
#      /usr/bin/trackcarve splits the sample disc as build/trackcarve does,
#      and man finds the page; then the package, and any package its
#      install pulled in, is purged again, leaving the machine as it was.
# One PASS/FAIL line per check, then "N passed, M failed"; status 1 if any
# check failed. Builds into build/ (scripts/build.sh) first.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" -eq 0 ] && sudo= || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

scripts/install-deps.sh
scripts/build.sh >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/trackcarve-install.XXXXXX")
chmod 755 "$work" # apt reads the .deb from here as its own user
installed_by_us=
pulled_in=()
cleanup() {
  if [ -n "$installed_by_us" ]; then
    $sudo apt-get purge -y -qq trackcarve "${pulled_in[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() {
  echo "FAIL $1"
  failed=$((failed + 1))
  if [ -n "${2:-}" ]; then sed 's/^/    /' <<<"$2"; fi
}
# stop: a check that later checks need; its failure ends the run here.
stop() {
  fail "$@"
  echo "$passed passed, $failed failed"
  exit 1
}

# 1. The page. mandoc -Tlint reports style as well as errors and warnings.
page=man/trackcarve.1
lint=$(mandoc -Tlint "$page" 2>&1) && [ -z "$lint" ] && pass "mandoc -Tlint $page reports nothing" ||
  fail "mandoc -Tlint $page" "$lint"
lint=$(groff -ww -z -mdoc "$page" 2>&1) && [ -z "$lint" ] && pass "groff -ww -z -mdoc $page reports nothing" ||
  fail "groff -ww -z -mdoc $page" "$lint"

# 2. cmake --install into a prefix.
prefix=$work/prefix
log=$(cmake --install build --prefix "$prefix" 2>&1) || stop "cmake --install build --prefix $prefix" "$log"
files=$(cd "$prefix" && find . -type f -o -type l | sort)
expected=$'./bin/trackcarve\n./share/man/man1/trackcarve.1.gz'
[ "$files" = "$expected" ] && pass "cmake --install: bin/trackcarve and share/man/man1/trackcarve.1.gz, nothing else" ||
  fail "cmake --install: files under the prefix" "$files"
[ -x "$prefix/bin/trackcarve" ] && pass "cmake --install: the program is executable" ||
  fail "cmake --install: $prefix/bin/trackcarve is not executable"
gzip -dc "$prefix/share/man/man1/trackcarve.1.gz" 2>/dev/null | cmp -s - "$page" &&
  pass "cmake --install: the installed page is $page, gzipped" ||
  fail "cmake --install: the installed page differs from $page"

# 3. The package.
debdir=$work/deb
log=$(cpack --config build/CPackConfig.cmake -G DEB -B "$debdir" 2>&1) || stop "cpack -G DEB" "$log"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/CPackConfig.cmake)
deb=$debdir/trackcarve_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] && pass "cpack -G DEB: $(basename "$deb")" ||
  stop "cpack -G DEB: no $(basename "$deb") in $debdir" "$(ls "$debdir")"

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
missing=()
for library in libvorbis0a libvorbisenc2 libogg0 libflac12 libc6 libstdc++6; do
  [[ ", $depends," == *", $library "* ]] || missing+=("$library")
done
((${#missing[@]} == 0)) && pass "dpkg-deb -I: Depends: $depends" ||
  fail "dpkg-deb -I: Depends lacks ${missing[*]}" "Depends: $depends"
fields="$(field Package) $(field Version) $(field Section) $(field Architecture)"
[ "$fields" = "trackcarve $version sound $(dpkg --print-architecture)" ] &&
  pass "dpkg-deb -I: Package, Version, Section, Architecture: $fields" ||
  fail "dpkg-deb -I: Package, Version, Section, Architecture" "$fields"
[ -n "$(field Maintainer)" ] && [ "$(field Description | wc -l)" -gt 1 ] &&
  pass "dpkg-deb -I: a Maintainer, a one-line and a longer Description" ||
  fail "dpkg-deb -I: Maintainer or Description" "$(dpkg-deb -I "$deb")"

contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }' | sort)
unexpected=$(grep -vxE '\./usr/((bin|share(/man(/man1)?)?)/)?|\./usr/bin/trackcarve|\./usr/share/man/man1/trackcarve\.1\.gz|\./usr/share/doc/(trackcarve/.*)?' <<<"$contents" || true)
if [ -z "$unexpected" ] && grep -qx './usr/bin/trackcarve' <<<"$contents" &&
   grep -qx './usr/share/man/man1/trackcarve.1.gz' <<<"$contents"; then
  pass "dpkg-deb -c: usr/bin/trackcarve and usr/share/man/man1/trackcarve.1.gz only"
else
  fail "dpkg-deb -c: the package's files" "$contents"
fi

# 4. Install it, use it, purge it.
if dpkg-query -W -f='${Status}' trackcarve 2>/dev/null | grep -x 'install ok installed' >/dev/null || [ -e /usr/bin/trackcarve ]; then
  stop "apt-get install: trackcarve is installed already (or /usr/bin/trackcarve exists); not touching it"
fi
before=$(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Abbrev}\n' | awk '$2 == "ii" { print $1 }' | sort)
installed_by_us=yes
log=$(scripts/apt-install.sh -q "$deb" 2>&1) ||
  stop "apt-get install ./$(basename "$deb")" "$log"
after=$(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Abbrev}\n' | awk '$2 == "ii" { print $1 }' | sort)
mapfile -t pulled_in < <(comm -13 <(echo "$before") <(echo "$after") | grep -v '^trackcarve:' || true)
pass "apt-get install ./$(basename "$deb")${pulled_in[*]:+ (pulled in: ${pulled_in[*]})}"

build/make_sample_disc "$work/installed" >/dev/null
build/make_sample_disc "$work/built" >/dev/null
status=0
log=$(/usr/bin/trackcarve "$work/installed/sample.cue" 2>&1) || status=$?
((status == 0)) && [ -f "$work/installed/sample/sample.toc" ] && [ -f "$work/installed/sample/track1.iso" ] &&
  pass "/usr/bin/trackcarve sample.cue: exit status 0, sample/ holds the TOC and the tracks" ||
  fail "/usr/bin/trackcarve sample.cue: exit status $status" "$log"$'\n'"$(ls -l "$work/installed/sample" 2>&1)"
build/trackcarve "$work/built/sample.cue" >/dev/null 2>&1 || true
# An .ogg's stream serial number comes from the clock, so two runs a second
# apart differ in it: compare the decoded audio, and every other file's bytes
# but the record's, which holds the times the files were written.
for run in built installed; do
  for ogg in "$work/$run/sample/"*.ogg; do
    oggdec -Q -R -o "$ogg.raw" "$ogg" && rm "$ogg"
  done
  rm -f "$work/$run/sample/.trackcarve-record"
done
diff -r "$work/built/sample" "$work/installed/sample" >/dev/null &&
  pass "/usr/bin/trackcarve writes the same files as build/trackcarve (.ogg decoded)" ||
  fail "/usr/bin/trackcarve and build/trackcarve wrote different files" "$(diff -rq "$work/built/sample" "$work/installed/sample" 2>&1)"

where=$(man -w trackcarve 2>&1) && [ "$where" = /usr/share/man/man1/trackcarve.1.gz ] &&
  pass "man -w trackcarve: $where" || fail "man -w trackcarve" "$where"
MANWIDTH=80 man -P cat trackcarve 2>/dev/null | grep 'split a CD image into one file per track' >/dev/null &&
  pass "man trackcarve shows the page" || fail "man trackcarve shows no page"

log=$($sudo apt-get remove -y -q trackcarve 2>&1) && ! dpkg-query -W -f='${Status}' trackcarve 2>/dev/null | grep -x 'install ok installed' >/dev/null &&
  [ ! -e /usr/bin/trackcarve ] && [ ! -e /usr/share/man/man1/trackcarve.1.gz ] &&
  pass "apt-get remove trackcarve: the program and its page are gone" || fail "apt-get remove trackcarve" "$log"
if ((${#pulled_in[@]})); then
  $sudo apt-get purge -y -q "${pulled_in[@]}" >/dev/null 2>&1 &&
    pass "apt-get purge: the packages the install pulled in" || fail "apt-get purge ${pulled_in[*]}"
fi
installed_by_us=

echo "$passed passed, $failed failed"
((failed == 0))
