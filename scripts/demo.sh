#!/usr/bin/env bash
# The demo: both bridges on simulated sensors, feeding a local MOOS server.
#
# Installs what is missing, builds the four programs, then starts on a free
# loopback port LocalServer (--log), a simulated GPS receiver and a simulated
# compass (SensorSim on two pseudo-terminals), and Vantor and Dirkel reading
# them, and shows for DEMO_SECONDS seconds (default 15) what reaches the
# server. Then it stops everything it started and prints what was sent and
# what arrived. Exit status 0 only when positions and headings reached the
# server.
# DEMO_BUILD_DIR picks another build folder (default build).
#   bash scripts/demo.sh            DEMO_SECONDS=30 bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${DEMO_SECONDS:-15}
build=${DEMO_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
bin=$build/bin

echo "== installing what is missing, building LocalServer SensorSim Vantor Dirkel"
bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target LocalServer SensorSim Vantor Dirkel >/dev/null

work=$(mktemp -d)
pids=()

# Stops, by PID, whatever this script started and has not stopped yet.
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "demo: $*" >&2
  local f
  for f in "$work"/*.err; do
    [ -s "$f" ] && { echo "--- $(basename "$f"):" >&2; tail -n 5 "$f" >&2; }
  done
  exit 1
}

# Waits up to 10 s for the first line of a program's standard output.
first_line() { # file, pid
  local i
  for i in $(seq 100); do
    [ "$(wc -l <"$1")" -gt 0 ] && { head -n 1 "$1"; return 0; }
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Starts a program in the background with its output in $work/NAME.out and
# .err; its PID goes to pids and to the variable named NAME_pid.
start() { # name, program, args...
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  printf -v "${name}_pid" '%s' "$!"
}

# Stops one started program by PID (if it still runs) and waits for it.
stop() { # pid
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

start server "$bin/LocalServer" --port 0 --log
listening=$(first_line "$work/server.out" "$server_pid") || fail "LocalServer did not start"
port=${listening##*:}

start gps "$bin/SensorSim" --gps
start compass "$bin/SensorSim" --compass
gps_device=$(first_line "$work/gps.out" "$gps_pid") || fail "SensorSim --gps did not start"
compass_device=$(first_line "$work/compass.out" "$compass_pid") || fail "SensorSim --compass did not start"

# The bridges pass faster than their sensors send (a GPS burst of a few lines
# a second, ten compass lines a second), so no line waits.
cat >"$work/Mission.moos" <<EOF
ServerHost = localhost
ServerPort = $port

ProcessConfig = Vantor
{
    AppTick   = 20
    CommsTick = 20
}

ProcessConfig = Compass
{
    AppTick   = 20
    CommsTick = 20
}
EOF

VANTOR_DEVICE=$gps_device start vantor "$bin/Vantor" "$work/Mission.moos"
DIRKEL_DEVICE=$compass_device start dirkel "$bin/Dirkel" "$work/Mission.moos"

echo "== LocalServer on 127.0.0.1:$port; Vantor reads $gps_device, Dirkel reads $compass_device"
echo "== what reaches the server, for $seconds s (a line when a value changes):"
# The log line is "<time> <source> <key> <value>"; the four GPS fields come
# in the order Latitude Longitude Indic_EW Indic_NS.
timeout "$seconds" tail -n +2 -F "$work/server.out" 2>/dev/null | awk '
  function value() { v = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ ?/, "", v); return v }
  NR == 1 { start = $1 }
  { t = sprintf("%6.2fs", $1 - start) }
  $3 ~ /_STATUS$/ { printf "%s  %-8s %s %s\n", t, $2, $3, value(); fflush(); next }
  $2 == "Vantor" && $3 != "Indic_NS" { gps[$3] = value(); next }
  $2 == "Vantor" {
    line = sprintf("Latitude=%s Indic_NS=%s  Longitude=%s Indic_EW=%s",
                   gps["Latitude"], value(), gps["Longitude"], gps["Indic_EW"])
    if (line != last_gps) { printf "%s  %-8s %s\n", t, "Vantor", line; fflush() }
    last_gps = line; next
  }
  $3 == "CompassData" && value() != last_heading {
    last_heading = value(); printf "%s  %-8s CompassData=%s\n", t, $2, last_heading; fflush()
  }' || true

# The sensors first, so that their counts are final; the bridges then see
# their device close and end by themselves; the server last.
stop "$gps_pid"
stop "$compass_pid"
for i in $(seq 50); do
  kill -0 "$vantor_pid" 2>/dev/null || kill -0 "$dirkel_pid" 2>/dev/null || break
  sleep 0.1
done
stop "$vantor_pid"
stop "$dirkel_pid"
stop "$server_pid"

# "SensorSim: N lines written (M $GPGGA sentences), D dropped"
sent() { # file, field number
  awk -v f="$2" '/^SensorSim: / { gsub(/[(]/, ""); print $f }' "$1"
}
gps_lines=$(sent "$work/gps.err" 2)
gga_sent=$(sent "$work/gps.err" 5)
compass_lines=$(sent "$work/compass.err" 2)
received() { # source, key, what (all | distinct)
  awk -v src="$1" -v key="$2" -v what="$3" '
    $2 == src && $3 == key {
      v = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ ?/, "", v); n++
      if (v != "" && !(v in seen)) { seen[v]; d++ }
    }
    END { print (what == "all" ? n : d) + 0 }' "$work/server.out"
}
updates=$(received Vantor Latitude all)
positions=$(received Vantor Latitude distinct)
headings=$(received Compass CompassData all)

echo "== summary"
echo "GPS:     ${gga_sent:-0} \$GPGGA sentences in ${gps_lines:-0} lines sent;" \
  "$updates position updates received (one a line), $positions distinct positions"
echo "Compass: ${compass_lines:-0} lines sent; $headings headings received"
[ "$positions" -gt 0 ] || fail "no position reached the server"
[ "$headings" -gt 0 ] || fail "no heading reached the server"
echo "== data flowed end to end"
