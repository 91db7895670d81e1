#!/usr/bin/env bash
# Installs Debian packages: `apt-get install -y` with the arguments given
# (options, package names, ./file.deb). When that fails, it tries once more
# with the release itself as the target release (-t bookworm, the machine's
# VERSION_CODENAME): a mirror caught mid-sync can leave apt with the security
# suite's index for one architecture and not the other, and then a package
# that must have the same version on both (libssl3, zlib1g for wine32:i386)
# has a newer amd64 than i386 candidate and the install stops ("Resolve
# generated breaks"). With the release as target both take the release's
# version, which it always has for both; the security fixes come with the
# next install or upgrade that sees the whole suite.
# Exit status: apt-get's from the last try.
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
"${apt_get[@]}" install -y -t "$release" "$@"
