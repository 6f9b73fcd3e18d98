#!/usr/bin/env bash
# Idle cost: LocalServer and both bridges, connected, on devices that send
# nothing, with the default mission settings; each process's CPU over
# SECONDS (default 60) in % of one core and its wake-ups a second (times
# its threads were put on a core), from /proc/<pid>/task/*/schedstat, and,
# with --syscalls, the system calls each makes in 10 s (strace -f -c): what
# wakes it while there is nothing to do.
#   bash bench/idle_cost.sh [--syscalls] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

syscalls=0
[ "${1:-}" != --syscalls ] || { syscalls=1 && shift; }
seconds=${1:-60}
tool=idle_cost
# shellcheck source=bench/processes.sh
source bench/processes.sh
check_seconds "$seconds"
start_server
printf 'ServerHost = 127.0.0.1\nServerPort = %s\n' "$port" >"$work/Mission.moos"
for name in gps compass; do
  "$bin/SensorSim" --replay /dev/null --hold >"$work/$name.out" 2>/dev/null &
  pids+=($!)
done
wait_for "$work/gps.out" /dev/
wait_for "$work/compass.out" /dev/
VANTOR_DEVICE=$(head -1 "$work/gps.out") "$bin/Vantor" "$work/Mission.moos" >/dev/null 2>&1 &
pids+=($!)
vantor=$!
DIRKEL_DEVICE=$(head -1 "$work/compass.out") "$bin/Dirkel" "$work/Mission.moos" >/dev/null 2>&1 &
pids+=($!)
dirkel=$!
sleep 5 # connected and settled

declare -A before
for name in server vantor dirkel; do before[$name]=$(usage "${!name}"); done
start=$(date +%s.%N)
sleep "$seconds"
wall=$(echo "$(date +%s.%N) - $start" | bc -l)
echo "over ${seconds} s with nothing to do:     % of one core   wake-ups/s"
for name in server vantor dirkel; do
  read -r ns0 runs0 <<<"${before[$name]}"
  read -r ns1 runs1 <<<"$(usage "${!name}")"
  printf '  %-7s %32.3f %12.1f\n' "$name" "$(echo "100 * ($ns1 - $ns0) / 10^9 / $wall" | bc -l)" \
    "$(echo "($runs1 - $runs0) / $wall" | bc -l)"
done
[ $syscalls -eq 1 ] || exit 0
for name in server vantor dirkel; do
  echo "== system calls of $name in 10 s"
  timeout -s INT 10 strace -f -c -p "${!name}" 2>&1 | sed -n '1,12p' || true
done
