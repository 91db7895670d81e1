#!/usr/bin/env bash
# Refreshes apt's package lists, trying again when a mirror is caught in the
# middle of a sync ("File has unexpected size"). apt keeps the lists it did
# fetch, so after the last try the install goes on with what it has
# (scripts/apt-install.sh copes with lists that disagree between two
# architectures), and fails there only if a package it needs is not in them.
# Arguments go to apt-get before "update": -o options for a private list.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -u
[ "$(id -u)" -eq 0 ] && sudo= || sudo=sudo
for try in 1 2 3; do
  $sudo apt-get "$@" update -qq && exit 0
  echo "apt-get update failed (try $try of 3)" >&2
  sleep $((try * 10))
done
echo "apt-get update: going on with the package lists it has" >&2
exit 0
