#!/usr/bin/env bash
# Soak test: LocalServer, Vantor and Dirkel fed by SensorSim, and five Scaler
# example applications following the bridges' variables, run together for
# MINUTES (default 10, at most 1440) while the server is killed and started
# again every 30 s. Not part of CI.
#   bash scripts/soak.sh [--faults] [MINUTES]
#
# --faults adds every device fault at once: the bridges check checksums and
# fixes, watch for silence and wait for a lost device (VerifyChecksum,
# RequireFix, DataTimeout, ReopenDevice); SensorSim runs one minute of lines
# at a time, corrupting some, going quiet once and being unplugged and
# plugged in again once in each run, and ends each run (the device goes
# away until the next one); some GPS lines have no fix; the server is killed
# at random intervals of 10 to 40 s. Its report (scripts/soak_faults.py)
# gives per bridge the valid lines made while it was connected and the values
# received (must be equal), the damaged lines made and received (0), values
# received twice (0), and the restarts, unplugs and pauses survived.
#
# Every device line carries a number of its own (the latitude of its
# "$GPGGA" sentence, the heading of its compass sentence), so the server's
# logs show which lines arrived. The report gives, per bridge, the lines made
# and the values received, the lines lost while connected (must be 0), around
# the restarts and before the first and after the last value, the
# reconnections; and for every process its open descriptors and resident
# memory at the start and the end and its peak memory. Programs come from
# build/ (MOOS_BUILD overrides), built here when missing. Exit status 1 when
# a line was lost while connected, a process died or the report's own sums
# do not add up.
set -euo pipefail
cd "$(dirname "$0")/.."

faults=0
if [ "${1:-}" = --faults ]; then
  faults=1
  shift
fi
minutes=${1:-10}
case $minutes in
  '' | *[!0-9]*) minutes=0 ;;
esac
if [ "$minutes" -lt 1 ] || [ "$minutes" -gt 1440 ]; then
  echo "soak: MINUTES must be a whole number from 1 to 1440, not ${1:-}" >&2
  exit 2
fi
build=${MOOS_BUILD:-build}
rate=10          # device lines per second, each bridge
restart_every=30 # seconds between server kills
scalers=5

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target LocalServer SensorSim Vantor Dirkel Scaler >/dev/null
bin=$build/bin
scaler_bin=$(find "$build" -type f -name Scaler -perm -u+x | head -1)
[ -n "$scaler_bin" ] || { echo "soak: no Scaler program in $build" >&2; exit 1; }

work=$(mktemp -d /tmp/moos-soak.XXXXXX)
pids=()
server_pid=
nap_pid=
cleanup() {
  for p in "${pids[@]}" $server_pid $nap_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A soak that found a fault keeps its logs for a look (their size is
  # bounded by MINUTES); an interrupted one leaves nothing behind.
  if [ "${status:-0}" -eq 0 ]; then rm -rf "$work"; else echo "soak: logs kept in $work" >&2; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
# A long sleep in the background, so that a signal ends the soak at once
# (the shell runs its traps only between commands, and wait is one).
nap() {
  sleep "$1" &
  nap_pid=$!
  wait $nap_pid
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
per_slice=$((60 * rate)) # one SensorSim run's lines (--faults)
lines=$((minutes * 60 * rate + 600))
if [ $faults -eq 1 ]; then
  python3 scripts/soak_faults.py lines "$work" "$per_slice" $((minutes + 2))
else
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++)
  printf "$GPGGA,120000.00,%d,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*00\n", 100000 + i }' >"$work/gps.txt"
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++) printf "$C%dP1.5R-0.5T21.0*00\n", 100000 + i }' \
  >"$work/compass.txt"
fi

bridge_keys() { # process name, device link: the fault settings
  [ $faults -eq 1 ] || return 0
  printf '  SerialPort = %s\n  VerifyChecksum = true\n  DataTimeout = 2\n' "$2"
  printf '  ReopenDevice = true\n  PublishEveryLine = false\n  StampTime = true\n  Echo = false\n'
  [ "$1" = Compass ] || printf '  RequireFix = true\n'
}

{
  echo "ServerHost = 127.0.0.1"
  echo "ServerPort = $port"
  for row in Vantor:gps Compass:compass; do
    printf 'ProcessConfig = %s\n{\n  AppTick = 20\n  CommsTick = 20\n' "${row%:*}"
    bridge_keys "${row%:*}" "$work/${row#*:}"
    echo "}"
  done
  for k in $(seq 1 $scalers); do
    input=Latitude
    [ $((k % 2)) -eq 0 ] && input=CompassData
    printf 'ProcessConfig = Scaler%d\n{\n  AppTick = 10\n  CommsTick = 10\n' "$k"
    printf '  Input = %s\n  Output = SCALED_%d\n  Factor = 2\n}\n' "$input" "$k"
  done
} >"$work/Mission.moos"

start() { # name, command...
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  eval "pid_$name=$!"
}

device_of() { # name of a SensorSim run
  for _ in $(seq 1 200); do
    if [ -s "$work/$1.out" ]; then head -1 "$work/$1.out"; return; fi
    sleep 0.05
  done
  echo "soak: $1 gave no device" >&2
  exit 1
}

server_life=0
start_server() {
  server_life=$((server_life + 1))
  "$bin/LocalServer" --port "$port" --log >"$work/server-$server_life.log" 2>>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 1 200); do
    grep -q listening "$work/server-$server_life.log" 2>/dev/null && return
    sleep 0.05
  done
  echo "soak: LocalServer did not start" >&2
  exit 1
}

# SensorSim runs one after another, one a slice of lines, at the device link
# the bridge reads: each quiet once, unplugged and plugged in again once,
# and its end takes the device away until the next run. Each run's first
# number and --corrupt go to standard error ahead of its summary, for the
# report. Stopped, it stops its run, which then prints its summary.
feed() { # sensor, corrupt every Nth line
  local sensor=$1 every=$2 slice=0 quiet file
  true &
  trap 'kill $! 2>/dev/null; wait; exit 0' TERM
  while file=$work/$sensor.$(printf %03d $slice).txt && [ -f "$file" ]; do
    quiet=$((5 + RANDOM % 15))
    echo "run $((100000 + slice * per_slice)) $every" >&2
    "$bin/SensorSim" --replay "$file" --rate "$rate" --link "$work/$sensor" --corrupt "$every" \
      --pause-after "$quiet" --pause-for 3 --unplug-after $((quiet + 8 + RANDOM % 15)) \
      --replug-after $((1 + RANDOM % 3)) &
    wait $! || true
    slice=$((slice + 1))
  done
}

if [ $faults -eq 1 ]; then
  start gps feed gps 9
  start compass feed compass 11
  device_of gps >/dev/null
  device_of compass >/dev/null
else
  start gps "$bin/SensorSim" --replay "$work/gps.txt" --rate "$rate" --hold
  start compass "$bin/SensorSim" --replay "$work/compass.txt" --rate "$rate" --hold
fi
start_server
if [ $faults -eq 1 ]; then
  start Vantor "$bin/Vantor" "$work/Mission.moos" Vantor
  start Dirkel "$bin/Dirkel" "$work/Mission.moos" Compass
else
  VANTOR_DEVICE=$(device_of gps) start Vantor "$bin/Vantor" "$work/Mission.moos" Vantor
  DIRKEL_DEVICE=$(device_of compass) start Dirkel "$bin/Dirkel" "$work/Mission.moos" Compass
fi
for k in $(seq 1 $scalers); do
  start "Scaler$k" "$scaler_bin" "$work/Mission.moos" "Scaler$k"
done
watched="Vantor Dirkel $(for k in $(seq 1 $scalers); do printf 'Scaler%d ' "$k"; done)"

footprint() { # pid: "<fds> <rss kB> <peak kB>"
  printf '%s %s %s' "$(ls "/proc/$1/fd" 2>/dev/null | wc -l)" \
    "$(awk '/^VmRSS/ { print $2 }' "/proc/$1/status" 2>/dev/null)" \
    "$(awk '/^VmHWM/ { print $2 }' "/proc/$1/status" 2>/dev/null)"
}

nap 10 # let every process connect and settle before the first sample
declare -A first
for name in $watched; do first[$name]=$(footprint "$(eval echo "\$pid_$name")"); done
first[LocalServer]=$(footprint "$server_pid")

next_restart() { # seconds to the next server kill
  if [ $faults -eq 1 ]; then echo $((10 + RANDOM % 31)); else echo $restart_every; fi
}

if [ $faults -eq 1 ]; then
  echo "== soak --faults: $minutes min, server killed every 10 to 40 s, work in $work"
else
  echo "== soak: $minutes min, server killed every ${restart_every} s, work in $work"
fi
end=$((SECONDS + minutes * 60))
while [ $SECONDS -lt $end ]; do
  wait_for=$(next_restart)
  nap $((wait_for < end - SECONDS ? wait_for : end - SECONDS))
  [ $SECONDS -lt $end ] || break
  kill -9 "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  start_server
done
nap 5 # the last life gets its share of lines

status=0
declare -A last
for name in $watched; do
  pid=$(eval echo "\$pid_$name")
  if kill -0 "$pid" 2>/dev/null; then
    last[$name]=$(footprint "$pid")
  else
    last[$name]="died"
    status=1
  fi
done
last[LocalServer]=$(footprint "$server_pid")

# Every device line carries its own number, from first_number up, so the
# numbers a bridge's values reached the server with account for every line
# the simulator made: received, lost inside a server life (while connected),
# lost between lives (around a restart), before the first value (while the
# bridge connected for the first time) and after the last (read after the
# last sample, or never read). The lives are taken in their order: a gap
# between two lives is only meaningful between neighbours.
first_number=100000
gaps() { # source key: "<received> <inside> <around> <lives> <lowest> <highest> <repeated>"
  for life in $(seq 1 "$server_life"); do
    awk -v s="$1" -v k="$2" -v life="$life" '$2 == s && $3 == k { print life, $4 + 0 }' \
      "$work/server-$life.log"
  done | awk '
    n > 0 && $2 <= prev { repeated++; next }
    { if (n > 0) { if ($1 == life) inside += $2 - prev - 1; else around += $2 - prev - 1 }
      if (n == 0 || $1 != life) lives++
      if (n == 0) lowest = $2
      life = $1; prev = $2; n++ }
    END { printf "%d %d %d %d %d %d %d\n", n, inside, around, lives, lowest, prev, repeated }'
}

tally() { # SensorSim name: "<written> <dropped>", from the summary it prints when stopped
  kill -TERM "$(eval echo "\$pid_$1")" 2>/dev/null || true
  for _ in $(seq 1 100); do
    grep -q 'lines written' "$work/$1.err" && break
    sleep 0.05
  done
  sed -n 's/^SensorSim: \([0-9]*\) lines written.*, \([0-9]*\) dropped$/\1 \2/p' "$work/$1.err" |
    head -1
}

# The report's own sums: every line made is accounted for once, no figure is
# negative, no value came twice or out of order, and the lines between the
# lowest and the highest value are exactly those received and lost between.
check_sums() { # name made received inside around start end lowest highest repeated
  local name=$1 made=$2 n=$3 inside=$4 around=$5 start=$6 end=$7 lowest=$8 highest=$9
  local repeated=${10} bad=
  for figure in "$n" "$inside" "$around" "$start" "$end"; do
    [ "$figure" -ge 0 ] || bad="a negative figure"
  done
  [ $((n + inside + around + start + end)) -eq "$made" ] ||
    bad="received and lost add up to $((n + inside + around + start + end)), not $made"
  [ "$n" -eq 0 ] || [ $((highest - lowest + 1)) -eq $((n + inside + around)) ] ||
    bad="the values span $((highest - lowest + 1)) lines, not $((n + inside + around))"
  [ "$repeated" -eq 0 ] || bad="$repeated values came twice or out of order"
  if [ -n "$bad" ]; then
    echo "soak: the report for $name does not add up: $bad" >&2
    return 1
  fi
}

if [ $faults -eq 1 ]; then
  kill -TERM "$pid_gps" "$pid_compass" 2>/dev/null || true
  wait "$pid_gps" "$pid_compass" 2>/dev/null || true
  echo
  python3 scripts/soak_faults.py report "$work" "$server_life" || status=1
else
echo
printf '%-8s %10s %10s %17s %15s %19s %12s %14s\n' bridge "lines made" received \
  "lost (connected)" "lost (restart)" "lost (start/end)" "server lives" reconnections
for row in "Vantor:gps:Latitude:Vantor" "Dirkel:compass:CompassData:Compass"; do
  IFS=: read -r name sim key source <<<"$row"
  read -r n inside around lives lowest highest repeated <<<"$(gaps "$source" "$key")"
  read -r written unsent <<<"$(tally "$sim")"
  made=$((${written:-0} + ${unsent:-0}))
  if [ "$n" -gt 0 ]; then
    start_lost=$((lowest - first_number))
    end_lost=$((made - (highest - first_number + 1)))
  else
    start_lost=$made
    end_lost=0
  fi
  contacts=$(grep -c "Contact Made" "$work/$name.err" || true)
  printf '%-8s %10s %10s %17s %15s %19s %12s %14s\n' "$name" "$made" "$n" "$inside" "$around" \
    "$start_lost/$end_lost" "$lives/$server_life" "$((contacts - 1))"
  [ "$inside" -eq 0 ] || status=1
  check_sums "$name" "$made" "$n" "$inside" "$around" "$start_lost" "$end_lost" "${lowest:-0}" \
    "${highest:-0}" "${repeated:-0}" || status=1
done
echo "(lines made: written by SensorSim, and dropped by it while nobody read the device)"
fi

# Without --faults the bridges stamp their values with the time 0.0, so the
# Scalers receive every one of them but take none (mail more than 5 s off
# the clock is stale): they load the server with subscriptions and mail, and
# publish only their status; with it (StampTime) they follow the values. Their status records show that they reconnected every time.
for k in $(seq 1 $scalers); do
  lives=0
  for f in "$work"/server-*.log; do
    awk -v s="Scaler$k" -v k="SCALER${k}_STATUS" '$2 == s && $3 == k { found = 1 } END { exit !found }' \
      "$f" && lives=$((lives + 1))
  done
  printf 'Scaler%d reported its status in %d/%d server lives\n' "$k" "$lives" "$server_life"
done

echo
printf '%-12s %18s %18s %10s\n' process "fds start/end" "RSS kB start/end" "peak kB"
for name in $watched LocalServer; do
  read -r f0 r0 _ <<<"${first[$name]}"
  if [ "${last[$name]}" = died ]; then
    printf '%-12s %18s %18s %10s\n' "$name" "$f0/died" "$r0/died" -
    continue
  fi
  read -r f1 r1 p1 <<<"${last[$name]}"
  printf '%-12s %18s %18s %10s\n' "$name" "$f0/$f1" "$r0/$r1" "$p1"
done
echo "(LocalServer: its first and its last life, $server_life lives in all)"
exit $status
