#!/usr/bin/env bash
# Installs a build of the tree into a temporary prefix and builds, against
# that prefix only, the example applications and the application shown in
# the README, as another project using find_package(MOOS) would.
#   bash scripts/check-install.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== install $build into $work/prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# The library's folder: lib/<multiarch triplet> on Debian, lib elsewhere.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
for f in include/MOOSLIB/MOOSApp.h "$libdir/libMOOS.a" "$libdir/cmake/MOOS/MOOSConfig.cmake"; do
  [ -f "$work/prefix/$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done

echo "== build examples/ against the installed package"
cmake -S examples -B "$work/examples" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/examples" -j2 >/dev/null

echo "== build the README's application against the installed package"
bash scripts/readme-example.sh "$work/readme"
cmake -S "$work/readme" -B "$work/readme/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/readme/build" >/dev/null
echo "== install check passed"
