#!/usr/bin/env bash
# Runs the normal build's test suite N times on a busy machine, to find the
# tests whose outcome depends on timing: stress-ng keeps every core busy
# while ctest runs far more tests at once than there are cores.
#   bash scripts/stress-tests.sh N [extra ctest arguments]
#
# The tree is built first when needed (build/, Release; MOOS_BUILD names
# another folder). The report gives one line per test that failed: how many
# of the N runs it failed in and how (Failed, Timeout, Exception...), then a
# total. Each run's ctest output is kept in <build>/stress-tests/. Exit
# status 1 when any test failed, 2 when the script cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: stress-tests.sh N [extra ctest arguments]  (N: runs, 1 or more)" >&2
  exit 2
}
[ $# -ge 1 ] || usage
runs=$1
shift
[[ $runs =~ ^[1-9][0-9]*$ ]] || usage
command -v stress-ng >/dev/null ||
  { echo "stress-tests: stress-ng is missing; run scripts/install-deps.sh" >&2; exit 2; }

build=${MOOS_BUILD:-build}
cores=$(nproc 2>/dev/null || echo 2)
jobs=$((cores * 3))
logs=$build/stress-tests

stress_pid=
stop_stress() {
  [ -n "$stress_pid" ] || return 0
  # stress-ng leads a process group of its own: its workers go with it.
  kill -TERM -- "-$stress_pid" 2>/dev/null || kill -TERM "$stress_pid" 2>/dev/null || true
  wait "$stress_pid" 2>/dev/null || true
  stress_pid=
}
trap stop_stress EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$cores"
rm -rf "$logs"
mkdir -p "$logs"

# One line "<test> <how>" for every test that did not pass in a ctest log;
# how is Failed, Timeout, NotRun or Exception:<kind> (a skipped test passes).
failures_of() {
  sed -nE 's/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: ([^ ]*[^ .]) *\.*\*\*\*(Not Run|Exception: [A-Za-z]+|[A-Za-z]+).*/\1 \2/p' "$1" |
    sed -E '/ Skipped$/d; s/Not Run$/NotRun/; s/Exception: /Exception:/'
}

for run in $(seq 1 "$runs"); do
  # A run that outlives an hour runs the rest without the load rather than
  # leave stress-ng behind, should this script be killed outright.
  setsid stress-ng --cpu "$cores" --timeout 3600 --quiet >>"$logs/stress-ng.log" 2>&1 &
  stress_pid=$!
  echo "== stress-tests: run $run of $runs, stress-ng on $cores cores, ctest -j $jobs"
  status=0
  ctest --test-dir "$build" -j "$jobs" --timeout 300 --no-tests=error --output-on-failure "$@" \
    >"$logs/run-$run.log" 2>&1 || status=$?
  stop_stress
  grep -E '^[0-9]+% tests passed|^Total Test time' "$logs/run-$run.log" || true
  failures_of "$logs/run-$run.log" >"$logs/failed-$run.txt"
  # ctest failing with no test to blame (no tests found, a bad argument)
  # counts as a failure too, never as a clean run.
  if [ "$status" -ne 0 ] && [ ! -s "$logs/failed-$run.txt" ]; then
    echo "ctest ExitStatus$status" >"$logs/failed-$run.txt"
  fi
done

echo "== stress-tests: tests that failed, in how many of $runs runs, and how"
cat "$logs"/failed-*.txt | awk -v runs="$runs" '
  { failed[$1]++; how[$1 " " $2]++ }
  END {
    for (t in failed) {
      detail = ""
      for (k in how) {
        split(k, part, " ")
        if (part[1] == t) detail = detail (detail == "" ? "" : ", ") part[2] " " how[k]
      }
      printf "%3d/%d  %s  (%s)\n", failed[t], runs, t, detail | "sort -rn"
    }
    close("sort -rn")
    printf "total: %d failures of %d tests in %d runs\n", NR, length(failed), runs
  }'
echo "logs: $logs"
! grep -q . "$logs"/failed-*.txt
