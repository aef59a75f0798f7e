#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds the linux, win64 and win32 presets and
# runs every test, then the Linux suite again under ASan and UBSan with the fuzzers (the
# sanitize preset). CI runs exactly this.
set -eu
cd "$(dirname "$0")/.."

packages=(cmake make gcc g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine64 fonts-wine xvfb xdotool imagemagick fonts-liberation)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

status=0
for preset in linux win64 win32 sanitize; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  case $preset in win*) cmake --build --preset "$preset" --target package ;; esac
  ctest --preset "$preset" || status=1
done
exit $status
