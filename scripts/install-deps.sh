#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian machine lacks to build and
# test the tree. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(g++ cmake make pkg-config libboost-dev libboost-system-dev
          libboost-regex-dev libgtest-dev libgmock-dev libbenchmark-dev python3-matplotlib
          clang libclang-rt-dev clang-format
          dpkg-dev file lintian groff-base man-db systemd)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "install-deps: missing packages: ${missing[*]}" >&2
    echo "install-deps: run this script as root, or: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
