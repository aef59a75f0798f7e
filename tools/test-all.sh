#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds the linux, win64 and win32 presets and
# runs every test, then the Linux suite again under ASan and UBSan with the fuzzer (the sanitize
# preset). Ends with one line per preset and the names of the tests that failed. CI runs exactly
# this.
set -eu
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8  # the tests set the locale they need; this one is for the tools here

packages=(git cmake make gcc g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine64 wine32:i386 fonts-wine xvfb xdotool imagemagick fonts-liberation locales
          zip unzip osslsigncode openssl e2fsprogs procps
          libboost1.74-dev nlohmann-json3-dev chromium firefox-esr python3-websockets curl python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # 32-bit Wine runs the win32 build, the one that meets the vendor's 32-bit library.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The Windows tests run in the users' locale: Russian, ANSI code page 1251.
locale -a | grep -qix 'ru_RU.utf8' || localedef -i ru_RU -f UTF-8 ru_RU.UTF-8

summary=() failed=() total_passed=0 total_failed=0 total_skipped=0
for preset in linux win64 win32 sanitize; do
  echo "=== $preset"
  started=$(date +%s)
  mkdir -p "build/$preset"
  junit=$PWD/build/$preset/junit.xml log=$PWD/build/$preset/build.log
  rm -f "$junit" "build/$preset/Testing/Temporary/LastTest.log"
  if { cmake --preset "$preset" && cmake --build --preset "$preset" &&
       { [[ $preset != win* ]] || cmake --build --preset "$preset" --target package; }; } \
     >"$log" 2>&1; then
    ctest --preset "$preset" --output-junit "$junit" || true
  else
    tail -20 "$log"
  fi
  # CTest's JUnit report: one testcase element per test, with its status.
  count() { grep -c "<testcase .*status=\"$1\"" "$junit" 2>/dev/null || true; }
  passed=$(count run) fails=$(count fail) skipped=$(count notrun)
  summary+=("$(printf '%-9s %3d passed, %d failed, %d skipped, %d s' "$preset:" "$passed" \
    "$fails" "$skipped" $(($(date +%s) - started)))")
  if [ ! -s "$junit" ]; then  # the build failed: its first error says why
    fails=1
    failed+=("$preset/build")
    summary+=("  $(grep -m1 -iE 'error|cannot|not found|no such' "$log" || tail -1 "$log")")
  fi
  # Why tests were skipped, once per reason: each prints "SKIPPED: reason".
  sed -n 's/^SKIPPED: //p' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null | sort |
    uniq -c | while read -r times reason; do echo "  $times skipped: $reason"; done >"$log.skips"
  mapfile -t -O ${#summary[@]} summary <"$log.skips"
  for name in $(sed -n 's/.*<testcase name="\([^"]*\)".*status="fail".*/\1/p' "$junit" 2>/dev/null); do
    failed+=("$preset/$name")
  done
  total_passed=$((total_passed + passed)) total_failed=$((total_failed + fails))
  total_skipped=$((total_skipped + skipped))
done

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
[ ${#failed[@]} -eq 0 ] || echo "Failed: ${failed[*]}"
echo "all: $total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ]
