#!/usr/bin/env bash
# Builds the Debian package from a build tree (scripts/package.sh) and checks
# it as a vehicle computer receives it: its files against
# scripts/package/contents.txt (the library in the multiarch folder), no
# conffiles (removing leaves /etc alone), the maintainer scripts run against a
# stand-in systemctl with and without a running systemd, the udev example,
# lintian without errors; then, extracted into a temporary root, every
# program's --help, the
# README's application built with find_package and with pkg-config, every
# manual page rendered without a warning, every key of the example mission
# file documented in its manual page and every unit verified by
# systemd-analyze.
#   bash scripts/check-package.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Prints the package's regular files, one absolute path a line.
package_files() {
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort
}

# True when the file path (first argument) matches one of the shell patterns
# that follow it.
matches() {
  local file=$1 pattern
  shift
  for pattern in "$@"; do [[ $file == $pattern ]] && return 0; done
  return 1
}

# True when one of the file paths that follow the shell pattern (first
# argument) matches it.
matched() {
  local pattern=$1 file
  shift
  for file in "$@"; do [[ $file == $pattern ]] && return 0; done
  return 1
}

check_contents() {
  local -a patterns files
  mapfile -t patterns < <(grep -v -e '^#' -e '^$' scripts/package/contents.txt |
    sed "s/@MULTIARCH@/$multiarch/g")
  mapfile -t files < <(package_files)
  local f p bad=0
  for f in "${files[@]}"; do
    matches "$f" "${patterns[@]}" || { echo "  not in contents.txt: $f" >&2; bad=1; }
  done
  for p in "${patterns[@]}"; do
    matched "$p" "${files[@]}" || { echo "  missing from the package: $p" >&2; bad=1; }
  done
  [ $bad = 0 ] || fail "the package's files differ from scripts/package/contents.txt"
  dpkg-deb -e "$deb" "$work/control"
  local extra
  extra=$(ls "$work/control" | grep -v -x -e control -e md5sums -e postinst -e prerm -e postrm || true)
  [ -z "$extra" ] || fail "unexpected control files (conffiles or other scripts): $extra"
}

# Runs maintainer script $1 with the arguments after it against stand-ins for
# systemctl and deb-systemd-invoke, with a running systemd when the global
# systemd is yes; prints the calls it made, one a line.
run_script() {
  local script=$1 run=$work/scripts/run tool
  shift
  rm -rf "$run" && mkdir -p "$run/bin" "$run/systemd"
  [ "$systemd" = yes ] || rmdir "$run/systemd"
  for tool in systemctl deb-systemd-invoke; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$run/calls" >"$run/bin/$tool"
    chmod +x "$run/bin/$tool"
  done
  touch "$run/calls"
  sed "s#/run/systemd/system#$run/systemd#g" "$work/control/$script" >"$run/$script"
  env -u DPKG_ROOT PATH="$run/bin:$PATH" sh "$run/$script" "$@" ||
    fail "$script $* exited with status $?"
  cat "$run/calls"
}

# The maintainer scripts do what debhelper's do for a package with units:
# reload systemd on install and removal, stop the running instances on
# removal, restart them after an upgrade; every systemctl call is guarded, so
# that without systemd (a container) they do nothing and succeed.
check_scripts() {
  local script instances="vantor@*.service dirkel@*.service localserver.service"
  for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "$script is not executable"
    [ "$(head -n 1 "$work/control/$script")" = "#!/bin/sh" ] || fail "$script is not a /bin/sh script"
    grep -q '^set -e$' "$work/control/$script" || fail "$script lacks set -e"
  done
  mkdir -p "$work/scripts"
  local -a cases=(
    "postinst configure|systemctl --system daemon-reload"
    "postinst configure 0.1.0-1|systemctl --system daemon-reload
deb-systemd-invoke try-restart $instances"
    "prerm remove|deb-systemd-invoke stop $instances"
    "prerm upgrade 0.1.0-1|"
    "postrm remove|systemctl --system daemon-reload"
    "postrm purge|")
  local case args want got
  for case in "${cases[@]}"; do
    args=${case%%|*}
    want=${case#*|}
    systemd=yes
    got=$(run_script $args)
    [ "$got" = "$want" ] || fail "with systemd, $args called: '$got', not '$want'"
    systemd=no
    got=$(run_script $args)
    [ -z "$got" ] || fail "without systemd, $args called: $got"
  done
  echo "  postinst, prerm, postrm: as debhelper's, guarded without systemd"
}

# The udev example names sensors behind USB-serial adapters and receivers
# that are CDC-ACM devices.
check_udev() {
  local rules=scripts/package/60-moos-serial.rules kind
  for kind in ttyUSB ttyACM; do
    grep -q "^SUBSYSTEM==\"tty\", KERNEL==\"$kind" "$rules" || fail "$rules has no $kind rule"
  done
  echo "  60-moos-serial.rules: ttyUSB and ttyACM"
}

# Every packaged program answers --help with its usage and status 0.
check_help() {
  local program name
  for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    timeout 10 "$program" --help </dev/null >"$work/help.txt" 2>&1 ||
      fail "$name --help exited with status $?"
    [ -s "$work/help.txt" ] || fail "$name --help printed nothing"
    echo "  $name --help: exit 0"
  done
}

check_examples() {
  bash scripts/readme-example.sh "$work/readme"
  cmake -S "$work/readme" -B "$work/readme/build" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
  cmake --build "$work/readme/build" >/dev/null
  echo "  with find_package: built"
  local pc flags
  pc=$(find "$root" -name moos.pc -printf '%h\n')
  [ -n "$pc" ] || fail "the package has no moos.pc"
  flags=$(PKG_CONFIG_PATH=$pc pkg-config --define-variable=prefix="$root/usr" --cflags --libs moos)
  c++ -std=c++17 "$work/readme/main.cpp" $flags -o "$work/readme/app-pkg-config"
  echo "  with pkg-config: built ($flags)"
}

check_manuals() {
  local program name page out
  for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    page=$root/usr/share/man/man1/$name.1.gz
    [ -f "$page" ] || fail "$name has no manual page"
    out=$(zcat "$page" | groff -ww -z -man 2>&1)
    [ -z "$out" ] || fail "the manual page of $name renders with warnings: $out"
    echo "  $name(1): no warnings"
  done
}

# Every key of the example mission file is one its bridge's manual page
# documents, so that a misspelt key in the example is caught here rather than
# by a user whose bridge ignores it.
check_example_keys() {
  local example=$root/usr/share/doc/moos-bridges/examples/vehicle.moos
  local page key bad=0
  while read -r page key; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.BR $key " ||
      { echo "  $key is not in the manual page of $page" >&2; bad=1; }
  done < <(awk -F'=' '
    { sub("//.*", "") }
    tolower($1) ~ /^ *processconfig *$/ { gsub(" ", "", $2); block = $2; next }
    /^ *}/ { block = ""; next }
    NF < 2 { next }
    { gsub(" ", "", $1) }
    block == "Vantor" { print "Vantor", $1; next }
    block == "Compass" { print "Dirkel", $1; next }
    block == "" { print "Vantor", $1; print "Dirkel", $1 }' "$example")
  [ $bad = 0 ] || fail "the example mission file has keys the manual pages do not document"
  echo "  every key of vehicle.moos is documented"
}

# The units name /usr/bin; here they are pointed at the extracted programs,
# and man finds their Documentation= pages in the extracted root.
check_units() {
  if ! command -v systemd-analyze >/dev/null; then
    echo "  systemd-analyze is not installed here: the units are not verified"
    return
  fi
  # Documentation= is checked with man where it is installed.
  local man=()
  command -v man >/dev/null || { man=(--man=no); echo "  man is not installed: Documentation= not checked"; }
  mkdir -p "$work/units"
  local unit out
  for unit in "$root"/usr/lib/systemd/system/*; do
    sed "s#/usr/bin/#$root/usr/bin/#g" "$unit" >"$work/units/$(basename "$unit")"
  done
  out=$(cd "$work/units" && MANPATH=$root/usr/share/man systemd-analyze verify "${man[@]}" ./* 2>&1) ||
    fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify warns: $out"
  echo "  $(ls "$work/units" | tr '\n' ' ')verified"
}

echo "== package $build"
deb=$(bash scripts/package.sh "$build" | tail -n 1)
echo "  $deb"
echo "== contents against scripts/package/contents.txt"
check_contents
echo "== maintainer scripts and udev example"
check_scripts
check_udev
echo "== lintian"
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"
dpkg -x "$deb" "$root"
echo "== programs"
check_help
echo "== the README's application against the package"
check_examples
echo "== manual pages"
check_manuals
check_example_keys
echo "== units"
check_units
echo "== package check passed"
