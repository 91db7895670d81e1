#!/usr/bin/env bash
# run-wine.sh EXE [ARGS...]
#   Runs a Windows console program under 32-bit wine in a private prefix and
#   exits with the program's exit status. windows/test-under-wine.sh runs
#   trackcarve.exe through it.
# run-wine.sh --begin | --end
#   Optional, around a batch of runs: --begin keeps one wineserver alive so
#   each run takes ~0.1 s instead of ~1.5 s (wine's services start and stop
#   again for every run otherwise); a server already running for the prefix
#   (an earlier --begin, or one an earlier job left) is used as it is. --end
#   stops it and waits until every wine process has gone.
#
# Environment:
#   TRACKCARVE_WINEPREFIX    prefix dir (default ~/.cache/trackcarve/wine32);
#                            created on first use, log in <prefix>.init.log.
#                            Jobs that may run side by side each name their
#                            own (test-under-wine.sh does): one job's --end
#                            would stop the other's server.
#   TRACKCARVE_WINE_NOWAIT=1 skip the final `wineserver -w`
# stdin is /dev/null, so `system("pause")` or a console read returns at once
# instead of hanging. The program's stdout has CR LF line ends.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 EXE [ARGS...] | --begin | --end" >&2
  exit 2
fi

export WINEPREFIX="${TRACKCARVE_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/trackcarve/wine32}"
export WINEARCH=win32
export WINEDEBUG=-all
# No display here: don't try a window, nor offer to install Mono/Gecko, nor
# write desktop menu entries into $HOME.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
session="$WINEPREFIX.session"   # present between --begin and --end

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # A lock: runs started in parallel must not build the same prefix at once.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    # First start prints to stderr and takes seconds: keep it out of the
    # caller's output (tests compare stdout/stderr).
    if ! { wineboot --init && wineserver -w; } >"$WINEPREFIX.init.log" 2>&1; then
      echo "run-wine.sh: creating $WINEPREFIX failed, see $WINEPREFIX.init.log" >&2
      exit 125
    fi
  fi
  flock -u 9
  exec 9>&-
fi

case "$1" in
  --begin)
    # Persistent until --end (a no-op if one is running). Its stdio, and that
    # of the wine services the first start leaves running, go to /dev/null:
    # long-lived processes holding the caller's pipes would make the caller (or
    # `... | tee`) wait for an end of file until --end.
    # Status 2 is a server already running for this prefix (an earlier
    # --begin, or one left by an earlier job): the runs use that one.
    rc=0
    wineserver -p </dev/null >/dev/null 2>&1 || rc=$?
    if ((rc != 0 && rc != 2)); then
      echo "run-wine.sh: wineserver -p failed with status $rc" >&2
      exit "$rc"
    fi
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    touch "$session"
    exit 0 ;;
  --end)
    rm -f "$session"
    wineserver -k 2>/dev/null || true   # nothing to kill is fine
    wineserver -w
    exit 0 ;;
esac

rc=0
wine "$@" </dev/null || rc=$?
# Leave no wine process behind (wineserver, services.exe, ...). Not inside a
# --begin/--end batch: there the server stays up on purpose and -w would block.
if [[ ${TRACKCARVE_WINE_NOWAIT:-0} != 1 && ! -e $session ]]; then
  wineserver -w
fi
exit "$rc"
