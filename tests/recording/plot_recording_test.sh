#!/bin/sh
# Renders a real receiver's capture with plot-recording and checks that a
# non-empty PNG of the documented size (1600 x 1200) comes out.
# Usage: plot_recording_test.sh PLOT_SCRIPT CAPTURE
set -eu
plot=$1
capture=$2
if [ ! -r "$capture" ]; then
  echo "capture $capture is not there"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$plot" --out "$out/plot.png" "$capture"
python3 - "$out/plot.png" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
width, height = struct.unpack(">II", data[16:24])
assert (width, height) == (1600, 1200), (width, height)
assert len(data) > 20000, "an almost empty picture: %d bytes" % len(data)
PY
# A file it cannot read is one line on standard error and a failure.
if "$plot" --out "$out/none.png" "$out/absent" 2>"$out/err"; then
  echo "no failure for a missing file"; exit 1
fi
[ "$(wc -l <"$out/err")" -eq 1 ] || { cat "$out/err"; exit 1; }
