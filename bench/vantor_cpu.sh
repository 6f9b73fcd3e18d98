#!/usr/bin/env bash
# CPU of Vantor reading a 10 Hz receiver (SensorSim --gps --rate 10: bursts of
# GGA, GSA, GSV and RMC ten times a second) and publishing to LocalServer,
# with its default settings and with Numeric and FixRecord on: % of one core
# over SECONDS (default 60), from /proc/<pid>/task/*/schedstat.
#   bash bench/vantor_cpu.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in
  '' | *[!0-9]* | 0) echo "vantor_cpu: SECONDS must be a whole number above 0" >&2; exit 2 ;;
esac
bin=${MOOS_BUILD:-build}/bin
work=$(mktemp -d /tmp/moos-vantor-cpu.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

wait_for() { # file, text
  for _ in $(seq 1 200); do
    grep -q "$2" "$1" 2>/dev/null && return
    sleep 0.05
  done
  echo "vantor_cpu: no \"$2\" in $1" >&2
  exit 1
}

"$bin/LocalServer" --port 0 >"$work/server.out" 2>&1 &
pids+=($!)
wait_for "$work/server.out" listening
port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/server.out")
cat >"$work/Mission.moos" <<MISSION
ServerHost = 127.0.0.1
ServerPort = $port
LatOrigin = 48.1173
LongOrigin = 11.5166

ProcessConfig = Plain
{
}

ProcessConfig = Numbers
{
  Numeric = true
  FixRecord = true
  PublishEveryLine = false
}
MISSION
declare -A vantor
for name in Plain Numbers; do
  "$bin/SensorSim" --gps --rate 10 --no-fix 0 >"$work/$name.sim" 2>/dev/null &
  pids+=($!)
  wait_for "$work/$name.sim" /dev/
  VANTOR_DEVICE=$(head -1 "$work/$name.sim") "$bin/Vantor" "$work/Mission.moos" "$name" \
    >/dev/null 2>&1 &
  pids+=($!)
  vantor[$name]=$!
done
sleep 5 # connected and settled

usage() { cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1 } END { printf "%.0f", ns }'; }
declare -A before
for name in Plain Numbers; do before[$name]=$(usage "${vantor[$name]}"); done
start=$(date +%s.%N)
sleep "$seconds"
wall=$(echo "$(date +%s.%N) - $start" | bc -l)
echo "Vantor at a 10 Hz receiver over ${seconds} s:   % of one core"
for name in Plain Numbers; do
  printf '  %-30s %12.3f\n' "$([ $name = Plain ] && echo 'no settings' || echo 'Numeric, FixRecord')" \
    "$(echo "100 * ($(usage "${vantor[$name]}") - ${before[$name]}) / 10^9 / $wall" | bc -l)"
done
