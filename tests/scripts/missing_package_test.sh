#!/bin/sh
# Configuring without CLI11 (hidden from find_package) must stop with one
# line naming the Debian package and the script, not find_package's list of
# the files it tried.
set -eu
source_dir="$1"
cmake="$2"
generator="$3"
build="$(mktemp -d)"
trap 'rm -rf "$build"' EXIT
if "$cmake" -S "$source_dir" -B "$build" -G "$generator" -DBUILD_TESTING=OFF \
    -DINTERVAL_BENCHMARKS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON > "$build/log" 2>&1; then
  echo "FAIL: configuring without CLI11 succeeded" >&2
  exit 1
fi
grep -qx "Missing CLI11: install the Debian package libcli11-dev (scripts/install-dependencies installs every package this build needs)" "$build/log" ||
  { cat "$build/log" >&2; echo "FAIL: no one-line message naming libcli11-dev" >&2; exit 1; }
if grep -q "CLI11Config.cmake" "$build/log"; then
  cat "$build/log" >&2
  echo "FAIL: find_package's own report is shown" >&2
  exit 1
fi
echo "configure names the missing package"
