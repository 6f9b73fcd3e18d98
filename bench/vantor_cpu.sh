#!/usr/bin/env bash
# CPU of Vantor reading a 10 Hz receiver (SensorSim --gps --rate 10: bursts of
# GGA, GSA, GSV and RMC ten times a second) and publishing to LocalServer,
# with its default settings and with Numeric and FixRecord on: % of one core
# over SECONDS (default 60), from /proc/<pid>/task/*/schedstat.
#   bash bench/vantor_cpu.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
tool=vantor_cpu
# shellcheck source=bench/processes.sh
source bench/processes.sh
check_seconds "$seconds"
start_server
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

declare -A before
cpu() { usage "$1" | cut -d' ' -f1; }
for name in Plain Numbers; do before[$name]=$(cpu "${vantor[$name]}"); done
start=$(date +%s.%N)
sleep "$seconds"
wall=$(echo "$(date +%s.%N) - $start" | bc -l)
echo "Vantor at a 10 Hz receiver over ${seconds} s:   % of one core"
for name in Plain Numbers; do
  printf '  %-30s %12.3f\n' "$([ $name = Plain ] && echo 'no settings' || echo 'Numeric, FixRecord')" \
    "$(echo "100 * ($(cpu "${vantor[$name]}") - ${before[$name]}) / 10^9 / $wall" | bc -l)"
done
