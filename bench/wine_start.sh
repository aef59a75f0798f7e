#!/usr/bin/env bash
# Time from starting qvlcapture.exe under Wine to its window on screen, against a minimal Win32
# program of the same bitness, each started RUNS times in the warm prefix of that build's tests.
# Usage: bench/wine_start.sh [win64|win32] [RUNS]
#   (after: cmake --preset win64 -DQVL_BUILD_BENCHMARKS=ON && cmake --build --preset win64)
set -eu
preset=${1:-win64} runs=${2:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/$preset
loader=/usr/lib/wine/wine64
[ "$preset" = win32 ] && loader=/usr/lib/wine/wine
export QVL_WINE_STATE=$build/wine
"$root/cmake/wine/start.sh" "$QVL_WINE_STATE" "$loader" win64 >/dev/null
trap '"$root/cmake/wine/stop.sh" "$QVL_WINE_STATE"' EXIT
. "$root/cmake/wine/env.sh"
folder=$(mktemp -d)
cp "$build/qvlcapture.exe" "$build/QvlScanner.dll" "$build/minimal_window.exe" "$folder/"

# Milliseconds from start until a visible window titled $2 exists; the program is then killed.
time_to_window() {
  local start end pid
  start=$(date +%s%N)
  QVLSIM_ARRIVE=never "$WINE" "$folder/$1" -TIMEOUT:60 </dev/null >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --name "^$2\$" >/dev/null 2>&1; do sleep 0.005; done
  end=$(date +%s%N)
  kill "$pid"
  sleep 0.3
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

for what in "qvlcapture.exe|Биометрия для сканеров Quarvel от Tormel 2012-12-20" \
            "minimal_window.exe|minimal"; do
  exe=${what%%|*} title=${what#*|}
  times=$(for _ in $(seq "$runs"); do time_to_window "$exe" "$title"; done)
  echo "$exe: median $(echo "$times" | median) ms over $runs runs ($(echo $times))"
done
rm -rf "$folder"
