# Helpers of the end-to-end cases, sourced by e2e.sh: starting the program as a caller does,
# acting as the user, and checking what the run left behind.

fail() {  # with the last starts and the stand-in's calls: whether each run reached the library
  echo "FAIL ($name): $*"
  echo "last starts and library calls: $(tail -n 12 "$top/calls" 2>/dev/null | tr '\n' ' ')"
  exit 1
}

install() {  # makes $1 the program folder: the program and the stand-in library
  folder=$1
  mkdir -p "$folder"
  cp "$build/$exe" "$build/$lib" "$folder/"
}

# Starts the program in the background; the QVLSIM_* settings reach the stand-in. On Linux the
# console window writes what the user reads to stderr.
start() {
  : >"$top/messages"
  : >"$top/stderr"
  echo "[start $*]" >>"$top/calls"
  (cd "$caller_folder" && exec $WINE "$folder/$exe" "$@" </dev/null >/dev/null 2>>"$top/$stderr") &
  pid=$!
}

# Waits for the program to end (within $1 seconds, 30 unless given), answering each message box
# as the user would; sets $status.
finish() {
  local box
  for _ in $(seq $((${1:-30} * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      status=$?
      return
    fi
    [ -n "$windows" ] && [ -n "$answer_boxes" ] && box=$(find_window qvlcapture 0) && answer_box "$box"
    sleep 0.1
  done
  fail "the program did not end within ${1:-30} s"
}

run() {
  start "$@"
  finish
}

# Reads a message box as the user does, checks that it holds the program, and presses Enter.
answer_box() {
  sleep 0.3
  kill -0 "$pid" 2>/dev/null || fail "the program ended while its message box was open"
  # A probe that starts while the box is still being drawn, or slowly on a loaded machine, reads
  # nothing: it looks again before the box is answered.
  local text
  for _ in $(seq 10); do
    text=$(cd / && "$WINE" "$build/window_probe.exe" </dev/null 2>/dev/null | tr -d '\r') && break
    sleep 0.2
  done
  [ -z "$text" ] || echo "$text" >>"$top/messages"
  xdotool windowfocus --sync "$1" key Return
  for _ in $(seq 50); do find_window qvlcapture 0 >/dev/null && sleep 0.1 || return 0; done
}

# Prints the id of the visible window titled exactly $1, waiting up to $2 seconds.
find_window() {
  local id
  for _ in $(seq 0 $(($2 * 10))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && echo "$id" && return 0
    [ "$2" = 0 ] || sleep 0.1
  done
  return 1
}

# Waits until the command $2 succeeds, at most $3 seconds (60 unless given): for the very state
# the next step needs, named in $1, so that a timeout says which step it was.
wait_for() {
  local deadline=$((SECONDS + ${3:-60}))
  until eval "$2"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "waited ${3:-60} s for $1"
    sleep 0.1
  done
}

# Waits until the window asks for a finger (then the run holds its folder) and prints its id.
wait_for_prompt() {
  [ -n "$windows" ] && { find_window "$caption" 20; return; }
  for _ in $(seq 100); do grep -q 'Приложите палец' "$top/messages" && return 0 || sleep 0.1; done
  return 1
}

close_window() {  # the user closes the window while the program waits for a finger
  local window
  window=$(wait_for_prompt) || fail "no window asks for a finger"
  sleep 0.4
  if [ -n "$windows" ]; then xdotool windowfocus "$window" key alt+F4; else kill -INT "$pid"; fi
}

qvlsim() {  # the build's own qvlsim, in the program folder
  (cd "$folder" && $WINE "$build/qvlsim$program" "$@" </dev/null >/dev/null) || fail "qvlsim $*"
}

expect() {  # the exit status, and the bytes result.txt must hold (a printf format)
  [ "$status" = "$1" ] || fail "exit status $status, want $1; messages: $(cat "$top/messages")"
  expect_file result.txt "$2"
}

expect_file() {
  [ -e "$folder/$1" ] || fail "$1 is missing; messages: $(cat "$top/messages")"
  [ "$(od -An -c <"$folder/$1")" = "$(printf -- "$2" | od -An -c)" ] ||
    fail "$1 holds $(od -An -c <"$folder/$1")"
}

expect_missing() {
  for file; do [ ! -e "$folder/$file" ] || fail "$file is there"; done
}

said() {  # the text in the user's language: $1 in English, $2 in Russian
  if [ -n "$russian" ]; then echo "$2"; else echo "$1"; fi
}

expect_message() {  # a text the user was shown, every blank in it filled
  grep -qF -- "$1" "$top/messages" || fail "no message '$1'; messages: $(cat "$top/messages")"
  ! grep -q '{[a-z_]*}' "$top/messages" || fail "a blank is left: $(cat "$top/messages")"
}

expect_no_box() {  # no message box was shown (the Linux console: no error, no timeout line)
  if [ -n "$windows" ]; then [ ! -s "$top/messages" ]; else ! grep -q ': error: \|таймаут' "$top/messages"; fi ||
    fail "a message was shown: $(cat "$top/messages")"
}

expect_outputs() {  # what every captured print leaves: feature.txt and scan.bmp, nothing else
  [ "$(grep -c $'\r$' "$folder/feature.txt" 2>/dev/null)" = 257 ] ||
    fail "feature.txt is not 257 CR LF lines"
  [ "$(head -c 2 "$folder/scan.bmp" 2>/dev/null)" = BM ] || fail "scan.bmp is not a BMP file"
  expect_missing scan.new.bmp feature.new.txt
}

native() {  # a path as the program sees it
  if [ -n "$windows" ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi
}


expect_refused() {  # a second start: exit 5, the message $1, and no call of the library
  [ "$status" = 5 ] || fail "the refused start's exit status is $status"
  [ -z "$1" ] || expect_message "$1"
  expect_missing ../second.log
}

hold() {  # another program holds file $1 open, sharing as $2 says (see hold_file.cpp)
  if [ -z "$windows" ]; then  # Linux: a record lock, as another run would hold it
    python3 -c 'import fcntl, sys, time
held = open(sys.argv[1], "a")  # kept: closing it would let go
fcntl.lockf(held, fcntl.LOCK_EX)
print("held", flush=True)
time.sleep(60)' "$1" >"$top/held" &
  else
    (cd / && exec "$WINE" "$build/hold_file.exe" "$(native "$1")" "$2" </dev/null >"$top/held") &
  fi
  holder=$!
  for _ in $(seq 100); do grep -q held "$top/held" 2>/dev/null && return 0 || sleep 0.1; done
  fail "cannot hold $1"
}

