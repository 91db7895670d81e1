#!/usr/bin/env bash
# Installs Debian packages: `apt-get install -y` with the arguments given
# (options, package names, ./file.deb), and gets past package lists that
# disagree between two architectures.
#
# A mirror caught mid-sync can leave apt with the security suite's index for
# amd64 and not for i386 (scripts/apt-update.sh goes on after its tries).
# A library that must have the same version on both (zlib1g, liblzma5,
# libssl3 for wine32:i386) may then have a newer amd64 than i386 candidate,
# or be installed for amd64 already at a version that only the security
# suite has, and the install stops: "pkgProblemResolver::Resolve generated
# breaks". So when the plain install fails, it tries again:
#   1. with the release as target release (-t bookworm, the machine's
#      VERSION_CODENAME): the candidates on both sides are then the
#      release's own, which it always has for both;
#   2. with the release pinned above the installed versions (a preferences
#      file at priority 1001, --allow-downgrades): an amd64 library that
#      came from the security suite goes back to the release's version, so
#      that its i386 twin can match it. The next upgrade that sees the whole
#      security suite brings both forward again.
# Each retry says so on stderr. Exit status: apt-get's, from the last try.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -u
[ "$(id -u)" -eq 0 ] && sudo= || sudo=sudo
apt_get=($sudo env DEBIAN_FRONTEND=noninteractive apt-get)

"${apt_get[@]}" install -y "$@" && exit 0

release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -z "$release" ]; then
  echo "apt-install.sh: apt-get install failed, and /etc/os-release names no release to retry with" >&2
  exit 100
fi
echo "apt-install.sh: apt-get install failed; trying again with the release as target (-t $release)" >&2
"${apt_get[@]}" install -y -t "$release" "$@" && exit 0

echo "apt-install.sh: trying again with $release pinned above the installed versions (downgrades allowed)" >&2
pin=$(mktemp "${TMPDIR:-/tmp}/apt-install.XXXXXX.pref")
trap 'rm -f "$pin"' EXIT
printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$release" >"$pin"
chmod 644 "$pin"
status=0
"${apt_get[@]}" -o "Dir::Etc::Preferences=$pin" install -y --allow-downgrades "$@" || status=$?
exit "$status"
