#!/usr/bin/env bash
# Builds the Debian package of the tree: configures the build directory,
# builds it and runs cpack. Prints the path of the package on the last line
# of standard output.
#   bash scripts/package.sh [build dir, default build-package]
# A new directory is configured as a Release build of the programs and the
# library alone (no tests, benchmarks or examples); an existing one is taken
# as it is, unless it is a sanitizer build, whose programs are not for a
# vehicle. Either way the library goes into Debian's multiarch folder
# (/usr/lib/<triplet>), also from a tree configured before that was the
# default. Then, on the vehicle computer: sudo apt install ./<that path>
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-package}
jobs=$(nproc 2>/dev/null || echo 2)
libdir=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

if [ -f "$build/CMakeCache.txt" ]; then
  if grep -qE '^MOOS_(ASAN|TSAN):BOOL=ON' "$build/CMakeCache.txt"; then
    echo "package: $build is a sanitizer build; package a normal one" >&2
    exit 1
  fi
  cmake -S . -B "$build" -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
else
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMOOS_BUILD_TESTS=OFF \
    -DMOOS_BUILD_BENCH=OFF -DMOOS_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
fi
cmake --build "$build" -j "$jobs" >/dev/null
out="$build/package"
mkdir -p "$out"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$PWD/package" >"$PWD/package/cpack.log" 2>&1) ||
  { cat "$out/cpack.log" >&2; exit 1; }
ls "$out"/*.deb
