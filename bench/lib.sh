# Helpers shared by the bench/ scripts; sourced, not run.
# Sets: repo, bench_dir, trackcarve, gen (the input generator).

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_dir=${BENCH_DIR:-/tmp/trackcarve-bench}
rounds=${ROUNDS:-5}
mkdir -p "$bench_dir"

log() { printf '%s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

# Installs the Debian packages named, if any is missing.
need_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]}"
  "$repo/scripts/apt-update.sh"
  "$repo/scripts/apt-install.sh" -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# trackcarve: $TRACKCARVE if set, else build/trackcarve, built by
# scripts/build.sh when missing or older than a source file.
find_trackcarve() {
  if [ -n "${TRACKCARVE:-}" ]; then
    trackcarve=$TRACKCARVE
  else
    trackcarve=$repo/build/trackcarve
    if [ ! -x "$trackcarve" ] || [ -n "$(find "$repo/src" "$repo/CMakeLists.txt" -newer "$trackcarve" -print -quit)" ]; then
      log "building trackcarve (scripts/build.sh)"
      (cd "$repo" && scripts/build.sh >/dev/null) ||
        { [ -x "$trackcarve" ] && log "warning: the build failed; timing the existing $trackcarve"; }
    fi
  fi
  [ -x "$trackcarve" ] || die "no trackcarve binary at $trackcarve"
}

# The deterministic input generator ($gen) and the timer ($measure), compiled
# into the scratch directory.
build_helpers() {
  gen=$bench_dir/make_bench_input
  measure=$bench_dir/measure
  local source=$repo/bench/make_bench_input.cpp
  if [ ! -x "$gen" ] || [ "$source" -nt "$gen" ]; then
    g++ -O2 -std=c++20 -o "$gen" "$source"
    rm -f "$bench_dir"/*.stamp   # inputs made by an older generator are remade
  fi
  if [ ! -x "$measure" ] || [ "$repo/bench/measure.cpp" -nt "$measure" ]; then
    g++ -O2 -std=c++20 -o "$measure" "$repo/bench/measure.cpp"
  fi
}

# make_once NAME COMMAND...: runs the command unless NAME.stamp says it ran.
make_once() {
  local stamp=$bench_dir/$1.stamp
  shift
  [ -e "$stamp" ] && return 0
  "$@"
  touch "$stamp"
}

# run_timed OUT_VAR COMMAND...: runs the command (output discarded) under
# bench/measure.cpp and sets OUT_VAR to "wall_seconds cpu_seconds peak_rss_kb".
run_timed() {
  local _var=$1 _line
  shift
  "$measure" "$bench_dir/time.out" "$@" || die "cannot run: $*"
  _line=$(cat "$bench_dir/time.out")
  [ "${_line##* }" = 0 ] || die "exit status ${_line##* } from: $*"
  printf -v "$_var" '%s' "${_line% *}"
}

# median: of the numbers on standard input.
# time_rounds RESULTS: runs run_<command> for every name in the commands
# array, $rounds times, rotating which goes first each round; appends
# "name wall cpu rss" lines to RESULTS.
time_rounds() {
  local results=$1 r k c stats
  log "timing $rounds rounds"
  : >"$results"
  for ((r = 0; r < rounds; r++)); do
    for ((k = 0; k < ${#commands[@]}; k++)); do
      c=${commands[$(((r + k) % ${#commands[@]}))]}
      run_"$c" stats
      echo "$c $stats" >>"$results"
      log "  round $((r + 1)): $c $stats"
    done
  done
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# verdict VALUE LIMIT: PASS when VALUE <= LIMIT.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "PASS" : "MISS" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
