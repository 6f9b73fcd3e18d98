#!/usr/bin/env bash
# Writes the application shown in the README ("Writing your own application")
# into DIR/main.cpp, and beside it a CMakeLists.txt that builds it against an
# installed library with find_package(MOOS), as the README says.
#   bash scripts/readme-example.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:?usage: readme-example.sh DIR}
mkdir -p "$dir"
awk '/^## Writing your own application/ { inside = 1; next }
     inside && /^## / { exit }
     inside && /^```cpp/ { code = 1; next }
     code && /^```/ { exit }
     code { print }' README.md >"$dir/main.cpp"
[ -s "$dir/main.cpp" ] || { echo "README has no application example" >&2; exit 1; }
cat >"$dir/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(ReadmeApp LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(MOOS REQUIRED)
add_executable(ReadmeApp main.cpp)
target_link_libraries(ReadmeApp PRIVATE MOOS::MOOS)
CMAKE
