#!/usr/bin/env bash
# Installs what is missing, then builds the tree and runs every test through
# ctest: the normal build, the AddressSanitizer + UndefinedBehaviorSanitizer
# build and the ThreadSanitizer build; then checks the install and the Debian
# package of the normal build, and runs every fuzz target for 30 s.
# Fails when any step, any test or any fuzz target fails.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
bash scripts/install-deps.sh

# The sanitizer trees are built at -O1 with line tables only: reports keep
# their file and line, and the builds take far less of CI's two cores.
quick=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

run_build() { # dir, cmake options...
  local dir=$1
  shift
  echo "== $dir"
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
}

run_build build -DCMAKE_BUILD_TYPE=Release
run_build build-asan "${quick[@]}" -DMOOS_ASAN=ON -DMOOS_BUILD_BENCH=OFF -DMOOS_BUILD_EXAMPLES=OFF
run_build build-tsan "${quick[@]}" -DMOOS_TSAN=ON -DMOOS_BUILD_BENCH=OFF -DMOOS_BUILD_EXAMPLES=OFF
bash scripts/check-install.sh build
bash scripts/check-package.sh build
bash scripts/fuzz.sh 30
