#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian machine lacks to build and
# test the tree. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(g++ cmake make pkg-config libboost-dev libboost-system-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-dev clang-format libgeographiclib-dev locales
          dpkg-dev file lintian groff-base man-db systemd python3-matplotlib stress-ng)

# The GPS tests read numbers under a locale that writes decimal commas.
test_locale=de_DE.UTF-8

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
has_locale() { locale -a 2>/dev/null | grep -qix "${test_locale/UTF-8/utf8}"; }
[ ${#missing[@]} -eq 0 ] && has_locale && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "install-deps: missing packages: ${missing[*]} (and locale $test_locale)" >&2
    echo "install-deps: run this script as root, or: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if ! has_locale; then
  echo "install-deps: generating locale $test_locale"
  $sudo localedef -i de_DE -f UTF-8 "$test_locale"
fi
