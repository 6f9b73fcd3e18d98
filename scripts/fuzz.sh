#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz and runs each of them for SECONDS (default 60), then prints
# the executions per target. Fails when a target finds a crash, a leak, a
# broken property or an input that runs longer than 10 s; the input is kept
# as build-fuzz/findings/<target>-<kind>-<hash> and the target's log as
# build-fuzz/fuzz-logs/<target>.log.
#   bash scripts/fuzz.sh [SECONDS]
#
# Each target starts from its seeds in fuzz/corpus/<target> and keeps what it
# learns in fuzz/corpus-run/<target> (not committed), so later runs go on
# from there. The GPS line target also starts from the lines of the real
# receiver captures under MOOS_SHARED_DIR (default ../shared), when present.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)
shared=${MOOS_SHARED_DIR:-$(cd .. && pwd)/shared}

echo "== $build (fuzz targets, ${seconds} s each)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DMOOS_BUILD_FUZZ=ON -DMOOS_ASAN=ON -DMOOS_BUILD_TESTS=OFF -DMOOS_BUILD_BENCH=OFF \
  -DMOOS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target moos_fuzzers

# target:dictionary:longest input
targets=(msg:wire:4096 packet:wire:20000 mission:mission:8192 values:values:4096
         serial_line:nmea:2048 vantor_line:nmea:4096 dirkel_line:compass:4096)

# One line per file, from every NMEA capture, as extra seeds of the GPS target.
capture_seeds() {
  local out=$build/capture-seeds/vantor_line
  rm -rf "$out"
  mkdir -p "$out"
  [ -d "$shared/captures/nmea" ] || return 0
  local n=0 line
  for f in "$shared"/captures/nmea/*.nmea; do
    while IFS= read -r line && [ $n -lt 400 ]; do
      printf '%s\n' "$line" >"$out/line-$n"
      n=$((n + 1))
    done < <(grep -a '^\$' "$f" | sort -u | head -60)
  done
}

run_target() { # name dict max_len
  local name=$1 dict=$2 max_len=$3
  local run=fuzz/corpus-run/$name log=$build/fuzz-logs/$name.log
  local extra=()
  mkdir -p "$run" "$build/findings" "$build/fuzz-logs"
  [ -d "$build/capture-seeds/$name" ] && extra+=("$build/capture-seeds/$name")
  if ! "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$max_len" -dict="fuzz/dict/$dict.dict" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$name-" "$run" "fuzz/corpus/$name" "${extra[@]}" \
      >"$log" 2>&1; then
    echo "fuzz_$name FOUND A FAULT; the end of its log ($log):"
    tail -40 "$log"
    return 1
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '  %-18s %12s executions in %s s\n' "fuzz_$name" "${runs:-?}" "$seconds"
}

capture_seeds
status=0
for t in "${targets[@]}"; do
  IFS=: read -r name dict max_len <<<"$t"
  run_target "$name" "$dict" "$max_len" || status=1
done
exit $status
