#!/usr/bin/env bash
# End to end under Wine: the real qvlcapture.exe and the stand-in QvlScanner.dll in a fresh
# program folder, a real window on the tests' Xvfb display, driven with xdotool.
# Usage: wine_e2e.sh CASE BUILD_DIR   (inside the wine fixture: QVL_WINE_STATE set)
set -u
case_name=$1 build=$2
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/cmake/wine/env.sh"

pid=
folder=$(mktemp -d "${TMPDIR:-/tmp}/qvl-wine-XXXXXX")
top=$folder
trap 'kill "$pid" 2>/dev/null; rm -rf "$top"' EXIT
cp "$build/qvlcapture.exe" "$build/QvlScanner.dll" "$folder/"
caption='Биометрия для сканеров Quarvel от Tormel 2012-12-20'

fail() { echo "FAIL ($case_name): $*"; exit 1; }

# Starts the program in the background with the given arguments; extra environment comes from
# the caller's exported QVLSIM_* variables.
start() {
  (cd / && exec "$WINE" "$folder/qvlcapture.exe" "$@" </dev/null >"$folder/wine.log" 2>&1) &
  pid=$!
}

# Waits for the program to end and sets $status; fails after $1 seconds.
finish() {
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      status=$?
      return
    fi
    sleep 0.1
  done
  fail "the program did not end within $1 s"
}

# Prints the id of the visible window whose title is exactly $1, waiting up to $2 seconds.
find_window() {
  for _ in $(seq $(($2 * 10))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Runs the Windows qvlsim with the given arguments, from Z:\ so Unix paths work.
qvlsim() {
  (cd / && "$WINE" "$build/qvlsim.exe" "$@" </dev/null >/dev/null 2>&1) || fail "qvlsim $*"
}

# Runs the program to its end with the given arguments; fails after 30 s.
run() {
  start "$@"
  finish 30
}

expect_file() {  # name, expected bytes (printf format)
  local expected
  expected=$(printf -- "$2" | od -An -c)
  [ -e "$folder/$1" ] || fail "$1 is missing"
  [ "$(od -An -c <"$folder/$1")" = "$expected" ] || fail "$1 holds $(od -An -c <"$folder/$1")"
}

# How many pixels of the window picture $1, in the box $2 (WxH+X+Y), are exactly colour $3.
count_colour() {
  convert "$1" -crop "$2" +repage -alpha off -fill black +opaque "$3" -fill white -opaque "$3" \
    -format '%[fx:round(mean*w*h)]' info:
}

# How many pixels of picture $1 in the box $2 are dark (text).
count_dark() {
  convert "$1" -crop "$2" +repage -alpha off -colorspace gray -threshold 45% \
    -format '%[fx:round((1-mean)*w*h)]' info:
}

# Saves a picture of window $1 as $2.png beside the build's other pictures.
picture() {
  mkdir -p "$build/pictures"
  import -window "$1" "$build/pictures/$2.png" 2>/dev/null || return 1
  echo "$build/pictures/$2.png"
}

set_dpi() {
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}

case $case_name in
  captured)
    # The finger arrives after 2 s: time to find the window and look at it.
    export QVLSIM_ARRIVE=2000ms
    start -CONTROL:A17
    window=$(find_window "$caption" 20) || fail "no window titled '$caption'"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" = 474 ] && [ "$HEIGHT" = 358 ] || fail "client area ${WIDTH}x$HEIGHT, want 474x358"
    sleep 0.5
    import -window root "$folder/shot.png"
    blue=$(convert "$folder/shot.png" -alpha off -fill black +opaque 'rgb(0,0,192)' \
      -fill white -opaque 'rgb(0,0,192)' -format '%[fx:round(mean*w*h)]' info:)
    [ "$blue" -gt 20 ] || fail "the countdown is not drawn in dark blue ($blue pixels)"
    finish 30
    [ "$status" = 0 ] || fail "exit status $status"
    expect_file result.txt '-1\r\nA17\r\n'
    [ "$(grep -c $'\r$' "$folder/feature.txt")" = 257 ] || fail "feature.txt is not 257 CR LF lines"
    [ "$(head -c 2 "$folder/scan.bmp")" = BM ] || fail "scan.bmp is not a BMP file"
    ;;
  timeout)
    export QVLSIM_ARRIVE=never
    printf '1\r\nold\r\n' >"$folder/result.txt"
    start -TIMEOUT:0
    box=$(find_window qvlcapture 20) || fail "no timeout message box"
    sleep 1
    kill -0 "$pid" 2>/dev/null || fail "the program ended while its message box was open"
    expect_file result.txt ''
    xdotool windowfocus --sync "$box" key Return
    finish 20
    [ "$status" = 0 ] || fail "exit status $status"
    expect_file result.txt ''
    ;;
  closed|closed_slow)
    # Alt+F4 during the wait. In closed_slow the library is busy in a slow poll at that moment:
    # the close is noticed at the next pump.
    export QVLSIM_ARRIVE=never
    [ "$case_name" = closed_slow ] && export QVLSIM_DELAY_MS=1500 QVLSIM_DELAY_CALLS=poll
    start -TIMEOUT:60 -CONTROL:x
    window=$(find_window "$caption" 20) || fail "no window titled '$caption'"
    sleep 0.4
    xdotool windowfocus "$window" key alt+F4
    finish 10
    [ "$status" = 0 ] || fail "exit status $status"
    find_window qvlcapture 0 >/dev/null && fail "a message box appeared"
    expect_file result.txt ''
    ;;
  close_box)
    # A click on the title bar's close box, in a Wine virtual desktop that draws title bars.
    # The program must end without a message box (one would block it) and leave result.txt empty.
    export QVLSIM_ARRIVE=never
    cp "$build/close_box_finder.exe" "$folder/"
    (cd / && exec "$WINE" explorer /desktop=qvlclose,800x600 "$folder/qvlcapture.exe" -TIMEOUT:60 \
      </dev/null >/dev/null 2>&1) &
    desktop=$(find_window 'qvlclose - Wine desktop' 20) || fail "no virtual desktop"
    (cd / && "$WINE" explorer /desktop=qvlclose,800x600 "$folder/close_box_finder.exe" \
      "$(cd / && "$WINE" winepath -w "$folder/close.txt" 2>/dev/null)" </dev/null >/dev/null 2>&1)
    for _ in $(seq 100); do [ -s "$folder/close.txt" ] && break; sleep 0.2; done
    [ -s "$folder/close.txt" ] || fail "the close box was not found"
    read -r x y <"$folder/close.txt"
    sleep 0.5
    xdotool mousemove --window "$desktop" "$x" "$y" click 1
    # The program's own process: its command line starts with its path; explorer's only holds it.
    running() { pgrep -f "^$folder/qvlcapture[.]exe" >/dev/null; }
    running || fail "the program is not running before the click"
    for _ in $(seq 100); do running || break; sleep 0.1; done
    running && fail "the program still runs after the click"
    expect_file result.txt ''
    ;;
  missing_library)
    rm "$folder/QvlScanner.dll"
    start
    box=$(find_window qvlcapture 20) || fail "no error message box"
    xdotool windowfocus --sync "$box" key Return
    finish 20
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    expect_file result.txt ''
    ;;
  verify)
    export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7
    qvlsim enroll --finger 7 --out "$folder/verify1.bin"
    run -CVERIFY -CONTROL:same
    expect_file result.txt '1\r\nsame\r\n'
    QVLSIM_FINGER=8 run -CVERIFY -CONTROL:other
    expect_file result.txt '0\r\nother\r\n'
    ;;
  identify)
    export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7
    qvlsim database --fingers 1000 --include 7@12 --include 7@500 --include 7@999 \
      --out "$folder/staff.bin"
    run -CVERIMATCH -MFILE:staff.bin -CONTROL:A17
    [ "$status" = 0 ] || fail "exit status $status"
    expect_file result.txt '12,500,999\r\nA17\r\n'
    ;;
  long_template)
    # 258 bytes cannot be a template: an error stop with feature.txt already complete.
    export QVLSIM_ARRIVE=1polls
    head -c 258 /dev/zero >"$folder/verify1.bin"
    start -CVERIFY -CONTROL:x
    box=$(find_window qvlcapture 20) || fail "no error message box"
    xdotool windowfocus --sync "$box" key Return
    finish 20
    [ "$status" = 1 ] || fail "exit status $status, want 1"
    expect_file result.txt ''
    [ "$(grep -c $'\r$' "$folder/feature.txt")" = 257 ] || fail "feature.txt is incomplete"
    ;;
  unicode_folder)
    # Ω is in neither the Western nor the Cyrillic ANSI code page: the library gets the folder's
    # short name, and scan.bmp still lands in the folder.
    unicode="$folder/папка Ω"
    mkdir "$unicode"
    mv "$folder/qvlcapture.exe" "$folder/QvlScanner.dll" "$unicode/"
    folder=$unicode
    export QVLSIM_ARRIVE=1polls
    run -CONTROL:ok
    [ "$status" = 0 ] || fail "exit status $status"
    expect_file result.txt '-1\r\nok\r\n'
    [ "$(head -c 2 "$folder/scan.bmp" 2>/dev/null)" = BM ] || fail "scan.bmp is not in $folder"
    ;;
  picture_96|picture_144)
    # The window as the user sees it, at the prompt, during the countdown, after the capture, and
    # the timeout box. Sizes in twips scale by the display's DPI.
    dpi=${case_name#picture_}
    set_dpi "$dpi"
    trap 'set_dpi 96; kill "$pid" 2>/dev/null; rm -rf "$top"' EXIT
    px() { echo $((($1 * dpi + 720) / 1440)); }  # twips to pixels, rounded
    info_box="$(px 7095)x$(($(px 4455) - $(px 120)))+0+0"
    timer_box="$(px 6975)x$(px 855)+0+$(px 4440)"
    export QVLSIM_ARRIVE=2200ms QVLSIM_DELAY_MS=3000 QVLSIM_DELAY_CALLS=process
    start -CVERIFY -TIMEOUT:5
    window=$(find_window "$caption" 20) || fail "no window titled '$caption'"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" = "$(px 7110)" ] && [ "$HEIGHT" = "$(px 5370)" ] ||
      fail "client area ${WIDTH}x$HEIGHT at $dpi DPI, want $(px 7110)x$(px 5370)"
    sleep 0.4
    prompt=$(picture "$window" "prompt-$dpi")
    prompt_dark=$(count_dark "$prompt" "$info_box")
    [ "$prompt_dark" -gt 1000 ] || fail "no prompt text"
    [ "$(count_colour "$prompt" "$timer_box" 'rgb(0,0,192)')" -gt 20 ] || fail "no dark-blue countdown"
    [ "$(count_colour "$prompt" "$info_box" 'rgb(0,0,192)')" = 0 ] || fail "blue in the info line"
    # Each state is waited for, not timed: a cold prefix starts slower than a warm one.
    convert "$prompt" -crop "$timer_box" +repage "$folder/a.png"
    moved=0
    for _ in $(seq 30); do
      sleep 0.1
      countdown=$(picture "$window" "countdown-$dpi") || break
      convert "$countdown" -crop "$timer_box" +repage "$folder/b.png"
      moved=$(compare -metric AE "$folder/a.png" "$folder/b.png" null: 2>&1)
      [ "$moved" != 0 ] && break
    done
    [ "$moved" != 0 ] || fail "the countdown did not change"
    # After the capture the short notice stays up while the library processes for 3 s.
    captured=
    for _ in $(seq 60); do
      sleep 0.1
      captured=$(picture "$window" "captured-$dpi") || fail "the window went away"
      dark=$(count_dark "$captured" "$info_box")  # a shot may catch a label mid-repaint
      [ "$dark" -gt 300 ] && [ "$dark" -lt "$prompt_dark" ] && break
    done
    [ "$(count_dark "$captured" "$info_box")" -gt 300 ] || fail "no text after the capture"
    [ "$(count_dark "$captured" "$info_box")" -lt "$prompt_dark" ] ||
      fail "the info line still shows the prompt"
    [ "$(count_colour "$captured" "$timer_box" 'rgb(0,0,192)')" = 0 ] || fail "timer not cleared"
    finish 20
    # The timeout box: its text and the OK button in the lower part.
    export QVLSIM_ARRIVE=never
    start -TIMEOUT:0
    box=$(find_window qvlcapture 20) || fail "no timeout message box"
    sleep 0.5
    shot=$(picture "$box" "timeout-box-$dpi")
    eval "$(xdotool getwindowgeometry --shell "$box")"
    [ "$(count_dark "$shot" "${WIDTH}x$((HEIGHT / 2))+0+0")" -gt 200 ] || fail "no text in the box"
    [ "$(count_dark "$shot" "${WIDTH}x$((HEIGHT / 2))+0+$((HEIGHT / 2))")" -gt 20 ] ||
      fail "no button in the box"
    xdotool windowfocus --sync "$box" key Return
    finish 20
    ;;
  focus)
    # A caller window starts the program with -FOCUS and must be active again afterwards.
    export QVLSIM_ARRIVE=1000ms
    cp "$build/focus_caller.exe" "$folder/"
    (cd / && "$WINE" "$folder/focus_caller.exe" "$folder/qvlcapture.exe" -FOCUS -CONTROL:f \
      </dev/null >"$folder/caller.log" 2>&1) &
    pid=$!
    finish 30
    [ "$status" = 0 ] || fail "the caller is not active after the run: $(cat "$folder/caller.log")"
    expect_file result.txt '-1\r\nf\r\n'
    ;;
  sample_c|sample_cmd)
    # The integrators' samples: each starts the program to verify, waits, and reads the answer.
    export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7
    qvlsim enroll --finger 7 --out "$folder/verify1.bin"
    cp "$build/caller.exe" "$root/docs/samples/caller.cmd" "$folder/"
    if [ "$case_name" = sample_c ]; then sample=(caller.exe); else sample=(cmd /c caller.cmd); fi
    output=$(cd "$folder" && "$WINE" "${sample[@]}" </dev/null 2>/dev/null | tr -d '\r')
    [ "$output" = "answer: 1" ] || fail "the sample printed '$output'"
    QVLSIM_FINGER=8 output=$(cd "$folder" && "$WINE" "${sample[@]}" </dev/null 2>/dev/null | tr -d '\r')
    [ "$output" = "answer: 0" ] || fail "the sample printed '$output' for another finger"
    ;;
  fault_process)
    # Processing fails: the template stays zero and is still written; the run goes on.
    export QVLSIM_ARRIVE=1polls QVLSIM_FAIL=process,bmp
    run -CONTROL:t
    [ "$status" = 0 ] || fail "exit status $status"
    [ "$(tr -d '\r' <"$folder/feature.txt" | sort -u)" = 0 ] || fail "feature.txt is not all zero"
    [ "$(grep -c $'\r$' "$folder/feature.txt")" = 257 ] || fail "feature.txt is not 257 lines"
    [ -e "$folder/scan.bmp" ] && fail "scan.bmp appeared though saving failed"
    expect_file result.txt '-1\r\nt\r\n'
    ;;
  fault_match)
    # Odd library answers are read as their low 16 bits, through the stdcall/x64 binding.
    export QVLSIM_ARRIVE=1polls
    qvlsim database --fingers 3 --out "$folder/match.bin"
    QVLSIM_MATCH_RESULT=70000 run -CMATCH
    expect_file result.txt '4464\r\n\r\n'
    QVLSIM_MATCH_RESULT=-5 run -CMATCH
    expect_file result.txt '-5\r\n\r\n'
    ;;
  token_bytes)
    # CP1251 and control bytes in command.txt reach result.txt byte for byte.
    export QVLSIM_ARRIVE=1polls
    printf -- '-CONTROL:\xc0\xff\x01\x7f -TIMEOUT:5\r\n' >"$folder/command.txt"
    run -CONTROL:ignored
    expect_file result.txt '-1\r\n\xc0\xff\x01\x7f\r\n'
    ;;
  *) fail "unknown case" ;;
esac
echo "PASS ($case_name)"
