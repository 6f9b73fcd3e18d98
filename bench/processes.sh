# Shared by the benchmark scripts that run the built programs; sourced with
# `tool` (the script's name, for its messages) set. Gives: bin (the built
# programs), work (a temporary folder, removed at exit), pids (processes
# killed at exit), check_seconds N, wait_for FILE TEXT, start_server (a LocalServer on a free
# port: sets server and port) and usage PID (CPU ns and times put on a core
# of all its threads so far, from schedstat, which counts time exactly where
# /proc/<pid>/stat comes in hundredths of a second).
bin=${MOOS_BUILD:-build}/bin
work=$(mktemp -d "/tmp/moos-$tool.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# A length of measure is a whole number of seconds above 0.
check_seconds() {
  case $1 in
    '' | *[!0-9]* | 0) echo "$tool: SECONDS must be a whole number above 0" >&2; exit 2 ;;
  esac
}

wait_for() { # file, text
  for _ in $(seq 1 200); do
    grep -q "$2" "$1" 2>/dev/null && return
    sleep 0.05
  done
  echo "$tool: no \"$2\" in $1" >&2
  exit 1
}

start_server() {
  "$bin/LocalServer" --port 0 >"$work/server.out" 2>&1 &
  pids+=($!)
  server=$!
  wait_for "$work/server.out" listening
  port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/server.out")
}

usage() { cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1; runs += $3 } END { printf "%.0f %d", ns, runs }'; }
