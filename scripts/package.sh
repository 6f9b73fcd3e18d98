#!/usr/bin/env bash
# Builds the Debian package of the tree: configures the build directory (a
# Release build when it is new), builds it and runs cpack. Prints the path of
# the package on the last line of standard output.
#   bash scripts/package.sh [build dir, default build]
# Then, on the vehicle computer: sudo apt install ./<that path>
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)

new=()
[ -f "$build/CMakeCache.txt" ] || new=(-DCMAKE_BUILD_TYPE=Release)
cmake -S . -B "$build" "${new[@]}" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
out="$build/package"
mkdir -p "$out"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$PWD/package" >"$PWD/package/cpack.log" 2>&1) ||
  { cat "$out/cpack.log" >&2; exit 1; }
ls "$out"/*.deb
