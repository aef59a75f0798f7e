#!/usr/bin/env bash
# The end-to-end cases, declared once and run against every build: the real program and the
# stand-in library in a fresh program folder, started as a caller starts them.
#
#   e2e.sh list linux|windows|win7   the cases for that kind of build, one a line
#   e2e.sh CASE BUILD_DIR            runs one case (a Windows build inside a wine fixture)
#
# The builds differ only in how the program starts (natively, or under the fixture's Wine
# loader), how the user acts (the Linux console: SIGINT, and messages on stderr; Windows:
# xdotool on the real window, and message boxes read with window_probe.exe) and which cases need a
# real window.
set -u

# Where each case runs: l Linux; w Windows (a 64-bit prefix, Russian code page 1251); e Windows
# again under an English code page (1252), as CASE_en; 7 a 32-bit Windows 7 prefix.
cases='
captured lwe7        timeout lw7          closed lw7           compare lw7
odd_match lw         command_file lw      cyrillic_folder lwe
no_template lw7      error_stops lw       wrong_library lw     no_library lw7
unwritable_folder l  second_run lw        held_picture lw      quoted lw
crash lw7            languages lwe        qvlsim_arguments l   work_folder lw
busy_scanner lw      quiet lw
caller_window w      guide we             picture_96 w         picture_144 w
close_box w          signed w
'

if [ "$1" = list ]; then
  mark=$(case $2 in linux) echo l ;; windows) echo w ;; win7) echo 7 ;; esac)
  echo $cases | xargs -n 2 | while read -r name where; do
    [[ $where == *$mark* ]] && echo "$name"
    [[ $2 == windows && $where == *e* ]] && echo "${name}_en"
  done
  exit 0
fi

name=$1 build=$(cd "$2" && pwd) pid= holder=
root=$(cd "$(dirname "$0")/.." && pwd)
top=$(mktemp -d "${TMPDIR:-/tmp}/qvl-e2e-XXXXXX")
folder=$top/program
trap 'kill -9 $pid $holder 2>/dev/null; chattr -i "$folder" 2>/dev/null; rm -rf "$top"' EXIT
caption='Биометрия для сканеров Quarvel от Tormel 2012-12-20'
# Cases run in parallel, each with its own stand-in scanner: each has a scanner lock of its own.
export QVLCAPTURE_SCANNER_LOCK=${top##*/}
if [ -e "$build/qvlcapture.exe" ]; then
  windows=1 exe=qvlcapture.exe lib=QvlScanner.dll suffix=.dll program=.exe
  [ "${name%_en}" != "$name" ] && QVL_WINE_LOCALE=C.UTF-8
  . "$root/cmake/wine/env.sh"
  skip_unless_wine_runs
  codepage=$([ "$LC_ALL" = C.UTF-8 ] && echo 1252 || echo 1251)
else
  windows= exe=qvlcapture lib=libQvlScanner.so suffix=.so program= codepage=utf-8 WINE=
  export LC_ALL=C.UTF-8
fi
russian=$([[ $LC_ALL == ru* ]] && echo 1)  # the user's language, which the program speaks
# Callers start the program from a working folder of their own. This one holds a library named
# like one that the scanner library needs, which must never be loaded from there.
caller_folder=$top/caller
mkdir -p "$caller_folder"
cp "$build/e2e/qvl_dependency$suffix" "$caller_folder/"
answer_boxes=1  # finish answers the program's message boxes as the user would

fail() {
  echo "FAIL ($name): $*"
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
  (cd "$caller_folder" && exec $WINE "$folder/$exe" "$@" </dev/null >/dev/null 2>>"$top/messages") &
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
  (cd / && "$WINE" "$build/window_probe.exe" </dev/null 2>/dev/null | tr -d '\r') >>"$top/messages"
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
  expect_missing scan.new.bmp
}

native() {  # a path as the program sees it
  if [ -n "$windows" ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi
}

# --- The cases -----------------------------------------------------------------------------

case_captured() {
  echo old >"$folder/scan.bmp"
  local old_file=$(stat -c %i "$folder/scan.bmp")
  QVLSIM_ARRIVE=3polls run -CONTROL:A17
  expect 0 '-1\r\nA17\r\n'
  expect_outputs
  # Replaced in one step (a new file in its place), never rewritten where a reader may see half.
  [ "$(stat -c %i "$folder/scan.bmp")" != "$old_file" ] || fail "scan.bmp was rewritten in place"
}

case_timeout() {  # no finger (2), or the scanner reports something other than a print (4)
  # A report that is not a print ends the wait at once, however long the timeout.
  while read -r exit_status timeout settings; do
    printf '1\r\nold\r\n' >"$folder/result.txt"
    export $settings
    run $timeout -CONTROL:x
    expect "$exit_status" ''
    expect_missing feature.txt error.txt
    expect_message 'Произошел таймаут 2 минуты (120 секунд), попробуйте еще раз'
  done <<'EOF'
2 -TIMEOUT:0 QVLSIM_ARRIVE=never
4 -TIMEOUT:60 QVLSIM_ARRIVE=1polls QVLSIM_FLAG=2
EOF
}

case_closed() {
  # Also while the library is busy in a slow poll: the close is noticed at the next pump.
  for delay in 0 1500; do
    QVLSIM_ARRIVE=never QVLSIM_DELAY_MS=$delay QVLSIM_DELAY_CALLS=poll start -TIMEOUT:60 -CONTROL:x
    close_window
    finish 10
    expect 3 ''
    [ -z "$(uniq -d "$top/messages")" ] || fail "a line repeats: $(uniq -d "$top/messages")"
    ! grep -q таймаут "$top/messages" || fail "the timeout message was shown"
  done
}

case_compare() {  # verification and identification with the stand-in's fingers
  qvlsim enroll --finger 7 --out verify1.bin
  qvlsim database --fingers 300 --include 7@12 --include 7@150 --include 7@299 --out staff.bin
  export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7
  run -CVERIFY -CONTROL:same
  expect 0 '1\r\nsame\r\n'
  run -CVERIMATCH -MFILE:staff.bin -CONTROL:A17
  expect 0 '12,150,299\r\nA17\r\n'
  cp "$folder/verify1.bin" "$folder/part.bin"  # one record and a part of one, which is ignored
  head -c 44 /dev/zero >>"$folder/part.bin"
  run -CVERIMATCH -MFILE:part.bin
  expect 0 '0\r\n\r\n'
  : >"$folder/empty.bin"
  run -CVERIMATCH -MFILE:empty.bin
  expect 0 '\r\n\r\n'
  QVLSIM_FINGER=8 run -CVERIFY -CONTROL:other
  expect 0 '0\r\nother\r\n'
  # Another caller writes its own template while this one waits: the answer is still this one's.
  QVLSIM_ARRIVE=file:$(native "$top/go") start -CVERIFY -CONTROL:kept
  wait_for_prompt >/dev/null || fail "no window asks for a finger"
  qvlsim enroll --finger 8 --out verify1.bin
  touch "$top/go"
  finish
  expect 0 '1\r\nkept\r\n'
}

case_odd_match() {  # odd library answers are read as their low 16 bits, through the binding
  qvlsim enroll --finger 1 --out verify1.bin
  qvlsim database --fingers 3 --out match.bin
  while read -r forced mode answer; do
    QVLSIM_ARRIVE=1polls QVLSIM_MATCH_RESULT=$forced run "$mode"
    expect 0 "$answer\r\n\r\n"
  done <<'EOF'
-5     -CMATCH     -5
70000  -CMATCH     4464
65536  -CVERIFY    1
-32769 -CVERIMATCH
EOF
}

case_command_file() {
  # command.txt as callers, editors and shells write it; from there any bytes of the token reach
  # result.txt unchanged, and from the command line it reaches it in the ANSI code page.
  qvlsim enroll --finger 4 --out verify1.bin
  qvlsim database --fingers 2 --include 4@1 --out staff.bin
  mv "$folder/staff.bin" "$folder/база.bin"
  local beetle=Жук  # comes back in the ANSI code page
  [ "$codepage" = 1251 ] && beetle='\xc6\xf3\xea'
  export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=4
  while IFS='|' read -r content switches exit_status result; do
    printf -- "$content" >"$folder/command.txt"
    run $switches
    expect "$exit_status" "$result"
  done <<EOF
-CVERIFY\r\n-CONTROL:lines\r\n|-CONTROL:ignored|0|1\r\nlines\r\n
\xef\xbb\xbf-CVERIFY -CONTROL:notepad|-CONTROL:ignored|0|1\r\nnotepad\r\n
\xef\xbb\xbf-CVERIMATCH -MFILE:база.bin -CONTROL:Жук|-CONTROL:ignored|0|1\r\n$beetle\r\n
\r\n|-CVERIFY -CONTROL:blank|0|1\r\nblank\r\n
-CONTROL:\xc0\xff\x01\x00\x7f -TIMEOUT:5\r\n|-CONTROL:ignored|0|-1\r\n\xc0\xff\x01\x00\x7f\r\n
|-CONTROL:Жук|0|-1\r\n$beetle\r\n
-CVERIMATCH -MFILE:база.bin -CONTROL:Жук|-CONTROL:ignored|0|1\r\n$beetle\r\n
-CONTROL:A1 -CVERIFY\0\0\0\0|-CONTROL:ignored|0|1\r\nA1\r\n
"-CONTROL: say ""hi"" " "-MFILE: база.bin " -CVERIMATCH|-CONTROL:ignored|0|1\r\nsay "hi"\r\n
\xff\xfe-\0C\0V\0|-CVERIFY|1|
\xfe\xff\0-\0C\0V|-CVERIFY|1|
-\0C\0V\0|-CVERIFY|1|
EOF
  expect_message 'UTF-16'
}

case_cyrillic_folder() {
  # 1251 spells the first folder, so the library gets it in ANSI; neither code page spells Ω,
  # so the library gets the folder's short name.
  for folder_name in 'папка с пробелами' 'папка Ω'; do
    install "$top/$folder_name"
    QVLSIM_ARRIVE=1polls run -CONTROL:ok
    expect 0 '-1\r\nok\r\n'
    expect_outputs
  done
}

case_quoted() {
  # A caller that quotes every switch, as process APIs quote a value with a space: under Wine a
  # batch file passes the command line as written; on Linux the arguments arrive split already.
  mkdir "$folder/sub"
  qvlsim database --fingers 3 --include 5@2 --out sub/staff.bin
  export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5
  if [ -n "$windows" ]; then
    printf '@"%s" "-CVERIMATCH" "-MFILE:sub\\staff.bin" "-CONTROL:a b\\\\"\r\n' \
      "$(native "$folder/$exe")" >"$folder/quoted.cmd"
    (cd "$folder" && exec "$WINE" cmd /c quoted.cmd </dev/null >/dev/null 2>&1) &
    pid=$!
    finish
  else
    run -CVERIMATCH -MFILE:sub/staff.bin "-CONTROL:a b\\"
  fi
  expect 0 '2\r\na b\\\r\n'
}

case_no_template() {  # the library made no template: an error, never a match with an empty one
  head -c 256 /dev/zero >"$folder/verify1.bin"
  echo old | tee "$folder/scan.bmp" >"$folder/feature.txt"
  QVLSIM_ARRIVE=1polls QVLSIM_FAIL=process run -CVERIFY -CONTROL:t
  expect 1 ''
  expect_file scan.bmp 'old\n'  # the stop touched no file
  expect_file feature.txt 'old\n'
  expect_message "$(said 'made no template' 'не построила шаблон')"
  QVLSIM_ARRIVE=1polls QVLSIM_FAIL=bmp run -CONTROL:t  # no picture saved: the old one goes too
  expect 0 '-1\r\nt\r\n'
  expect_missing scan.bmp scan.new.bmp
}

case_error_stops() {
  # Setup mistakes stop the run before a finger is asked for: exit 1, result.txt empty, the cause
  # named, and the scanner never even opened.
  export QVLSIM_ARRIVE=1polls QVLSIM_LOG=$(native "$top/calls.log")
  while IFS='|' read -r setup switches named; do
    rm -rf "$folder"/*.bin "$folder"/*.txt "$top/calls.log"
    (cd "$folder" && eval "$setup")
    printf '1\r\nold\r\n' >"$folder/result.txt"
    run $switches -CONTROL:t
    expect 1 ''
    expect_message "$named"
    expect_missing feature.txt scan.bmp ../calls.log
  done <<'EOF'
:|-TIMEOUT:1e999|-TIMEOUT:
:|-CVERIFY -LEVEL:high|-LEVEL:high
:|-CVERIMATCH -MFILE:staff.bin|staff.bin
:|-CMATCH -MFILE:/x/staff.bin|-MFILE:/x/staff.bin
:|-CMATCH -MFILE:C:staff.bin|-MFILE:C:staff.bin
:|-CMATCH -MFILE:\staff.bin|-MFILE:\staff.bin
mkdir match.bin|-CMATCH|match.bin
truncate -s 8T huge.bin|-CVERIMATCH -MFILE:huge.bin|huge.bin
head -c 8388608 /dev/zero >match.bin|-CMATCH|32768
head -c 258 /dev/zero >verify1.bin|-CVERIFY|verify1.bin
head -c 256 /dev/zero >verify1.bin|-CVERIFY -LEVEL:40000|40000
EOF
  rm -rf "$folder"/*.bin
  mkdir "$folder/verify1.bin"  # a folder is no stored template: the answer is 0
  unset QVLSIM_LOG
  run -CVERIFY
  expect 0 '0\r\n\r\n'
}

case_wrong_library() {  # libraries that cannot serve, and what the user is told of each
  while IFS='|' read -r library message; do
    cp "$library" "$folder/$lib"
    QVLSIM_ARRIVE=1polls run
    expect 1 ''
    expect_message "$message"
  done <<EOF
$build/e2e/needs_dependency$suffix|qvl_dependency$suffix
$build/e2e/broken_scanner$suffix|QvlMatchN
EOF
}

case_crash() {
  # The vendor's code faults: the program's own message naming the library, the call and the
  # fault, exit status 6, no answer; also on a thread of the library's own, and on a stack
  # overflow, which leaves the faulting thread no stack to report on. (Wine cannot dispatch an
  # exception on an exhausted stack, where Windows keeps back what SetThreadStackGuarantee asks.)
  local start=_init own
  [ -n "$windows" ] && start=DllMain
  own=$(said 'on a thread of its own' 'в её собственном потоке')
  while read -r fault arrive linux_name windows_name named; do
    [ -n "$windows" ] && [ "$windows_name" = skip ] && continue
    QVLSIM_ARRIVE=$arrive QVLSIM_CRASH=$fault run -CONTROL:t -TIMEOUT:20
    expect 6 ''
    local signal=$linux_name
    [ -n "$windows" ] && signal=$windows_name
    [ "$(grep -c "$lib.* $named.*${signal#-}" "$top/messages")" = 1 ] ||
      fail "not one message naming $lib, '$named' and $signal: $(cat "$top/messages")"
    expect_missing feature.txt scan.bmp
  done <<EOF
access 1polls SIGSEGV EXCEPTION_ACCESS_VIOLATION QvlProcess:
illegal 1polls SIGILL EXCEPTION_ILLEGAL_INSTRUCTION QvlProcess:
divide 1polls SIGFPE EXCEPTION_INT_DIVIDE_BY_ZERO QvlProcess:
stack 1polls SIGSEGV skip QvlProcess:
thread never SIGSEGV EXCEPTION_ACCESS_VIOLATION $own:
load 1polls SIGSEGV - $start
EOF
}

case_languages() {
  # A few errors as the user reads them: in Russian, the system's reason too, where Windows (on
  # Linux the locale) speaks Russian, and in English elsewhere.
  local other=$build/e2e/other_bits/$lib locales=as-set
  # Linux: LC_ALL:LANG, the first that is set wins.
  if [ -z "$windows" ]; then  # the stand-in for another machine: the ELF machine made AArch64
    other=$top/$lib locales=':C.UTF-8 :ru_RU.UTF-8 C.UTF-8:ru_RU.UTF-8'
    cp "$build/$lib" "$other"
    printf '\xb7' | dd of="$other" bs=1 seek=18 conv=notrunc status=none
  fi
  # The system's reason for a folder named result.txt, in English and Russian (Wine's, glibc's).
  local result=$(native "$folder/result.txt") reasons=('Is a directory' 'Это каталог')
  [ -n "$windows" ] && reasons=('Access denied.' 'Доступ запрещён.')
  for locale in $locales; do
    [ -z "$windows" ] && export LC_ALL=${locale%%:*} LANG=${locale#*:} &&
      russian=$([[ ${LC_ALL:-$LANG} == ru* ]] && echo 1)
    while IFS='|' read -r setup exit_status english russian_text; do
      install "$folder"
      eval "$setup"
      QVLSIM_ARRIVE=1polls run -CVERIMATCH -MFILE:staff.bin
      [ "$status" = "$exit_status" ] || fail "exit status $status, want $exit_status"
      [ ! -f "$folder/result.txt" ] || expect_file result.txt ''
      expect_message "$(said "$english" "$russian_text")"
      [ -z "$holder" ] || { kill -9 "$holder"; wait "$holder" 2>/dev/null; holder=; }
      rm -rf "$folder/result.txt" "$folder/staff.bin"
    done <<EOF
:|1|staff.bin is missing, or is not a file|staff.bin не найдена, или по этому пути находится не файл
: >"$folder/staff.bin"; cp "$other" "$folder/$lib"|1|$lib is a |$lib — 
hold "$folder/qvlcapture.lock" read|5|A capture is already running in $(native "$folder")|В папке $(native "$folder") уже идёт
mkdir "$folder/result.txt"|1|Cannot create $result: ${reasons[0]}|Не удалось создать $result: ${reasons[1]}
EOF
  done
}

case_no_library() {  # also with one in a folder on PATH, which is never loaded
  mkdir "$top/on_path"
  mv "$folder/$lib" "$top/on_path/"
  WINEPATH="Z:${top//\//\\}\\on_path" LD_LIBRARY_PATH=/nonexistent QVLSIM_ARRIVE=1polls run
  expect 1 ''
  expect_message "$(said "$lib is neither in" "$lib не найдена ни в папке программы")"
  # The system folder the loader really searches: SysWOW64 for a 32-bit program on 64-bit Windows.
  if [ -n "$windows" ]; then
    local system=system32
    [ "$WINE" = /usr/lib/wine/wine ] && [ "${WINEARCH:-}" != win32 ] && system=syswow64
    grep -qiF "(C:\\windows\\$system)" "$top/messages" || fail "not $system: $(cat "$top/messages")"
  fi
}

case_unwritable_folder() {
  # Root writes anywhere: only an immutable folder really refuses it.
  chattr +i "$folder" 2>/dev/null || { echo "SKIPPED: no immutable folders here"; exit 77; }
  QVLSIM_ARRIVE=1polls run
  [ "$status" = 1 ] || fail "exit status $status"
  expect_missing result.txt
  expect_message "$(said ". qvlcapture keeps a run's files in its working folder, and that must be" \
    '. qvlcapture хранит файлы запуска в рабочей папке, а она должна быть доступна')"
  ! grep -qF '.. qvlcapture' "$top/messages" || fail "the system's full stop stays"
}

expect_refused() {  # a second start: exit 5, the message $1, and no call of the library
  [ "$status" = 5 ] || fail "the refused start's exit status is $status"
  [ -z "$1" ] || expect_message "$1"
  expect_missing ../second.log
}

case_second_run() {
  # One run at a time per folder, however the folder is spelled (here through a symbolic link,
  # which Windows takes for another folder). A refused start whose message is still open holds
  # nothing; a killed run leaves the folder free.
  local first second refused
  ln -s "$folder" "$top/link"
  # The folder as the second start names it: Linux resolves the link to the program itself.
  refused=$(native "$top/link")
  [ -n "$windows" ] || refused=$folder
  refused=$(said "A capture is already running in $refused" "В папке $refused уже идёт")
  QVLSIM_ARRIVE=file:$(native "$top/go") start -CONTROL:first
  first=$pid
  wait_for_prompt >/dev/null || fail "the first run does not ask for a finger"
  QVLSIM_LOG=$(native "$top/second.log") folder=$top/link start -CONTROL:second
  second=$pid
  if [ -n "$windows" ]; then
    find_window qvlcapture 20 >/dev/null || fail "the second start shows no message"
    [ "$(xdotool search --onlyvisible --name "^$caption\$" | wc -l)" = 1 ] ||
      fail "the refused start left its window open behind its message"
  else
    finish
    expect_refused "$refused"
  fi
  touch "$top/go"
  pid=$first answer_boxes= finish
  expect 0 '-1\r\nfirst\r\n'
  QVLSIM_ARRIVE=1polls answer_boxes= run -CONTROL:third
  expect 0 '-1\r\nthird\r\n'
  if [ -n "$windows" ]; then
    pid=$second finish
    expect_refused "$refused"
  fi
  QVLSIM_ARRIVE=never start -TIMEOUT:60
  wait_for_prompt >/dev/null || fail "the run to kill does not ask for a finger"
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
  QVLSIM_ARRIVE=1polls run -CONTROL:fourth
  expect 0 '-1\r\nfourth\r\n'
}

hold() {  # another program holds file $1 open, sharing as $2 says (see hold_file.cpp)
  if [ -z "$windows" ]; then  # Linux: a lock, as another run would hold it
    bash -c 'exec 9>>"$1" && flock 9 && exec sleep 60' - "$1" &  # one process: killed, it lets go
    holder=$!
    for _ in $(seq 100); do flock -n "$1" true && sleep 0.1 || return 0; done
    fail "cannot lock $1"
  fi
  (cd / && exec "$WINE" "$build/hold_file.exe" "$(native "$1")" "$2" </dev/null >"$top/held") &
  holder=$!
  for _ in $(seq 100); do grep -q held "$top/held" 2>/dev/null && return 0 || sleep 0.1; done
  fail "cannot hold $1"
}

case_held_picture() {
  # A caller showing the last picture (GDI+ shares it for reading only) or an indexer looking at
  # it (sharing everything): the run answers all the same, scan.bmp is replaced as soon as the
  # system allows it, and the exit status says when it is not this run's (7). A leftover
  # scan.new.bmp that cannot be removed is never taken for this run's picture. Linux lets any file
  # be replaced: a folder of that name stands in for a held picture there.
  local rows=$'scan.bmp read 7\nscan.bmp all 0\nscan.new.bmp read 0'
  [ -n "$windows" ] || rows='scan.bmp folder 7'
  while read -r held share exit_status; do
    if [ $share = folder ]; then mkdir "$folder/$held"; else echo old >"$folder/$held"; fi
    [ $share = folder ] || hold "$folder/$held" $share
    QVLSIM_ARRIVE=1polls run -CONTROL:$share
    expect "$exit_status" "-1\r\n$share\r\n"
    expect_no_box
    case $held:$share in
      scan.bmp:read) expect_file scan.bmp 'old\n' ;;
      scan.bmp:all) expect_outputs ;;
      scan.new.bmp:*) expect_missing scan.bmp ;;
    esac
    [ $held = scan.new.bmp ] || expect_missing scan.new.bmp
    [ -z "$holder" ] || { kill -9 $holder; wait $holder 2>/dev/null; holder=; }
    rm -rf "${folder:?}/$held"
    QVLSIM_ARRIVE=1polls run -CONTROL:$share
    expect 0 "-1\r\n$share\r\n"
    expect_outputs
  done <<<"$rows"
}

case_work_folder() {
  # Each caller its own folder: the run's files lie there, and the program's folder is left as it
  # was. A full path with a Cyrillic name and a space, then one relative to the program's folder;
  # the database is named relative to the working folder.
  local work sep=/
  [ -n "$windows" ] && sep=\\
  for work in "$top/рабочая папка" "$folder/runs/a"; do
    mkdir -p "$work/sub"
    folder=$work qvlsim database --fingers 3 --include 5@2 --out sub/staff.bin
    QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run "-WORKDIR:$([ "$work" = "$folder/runs/a" ] &&
      echo "runs${sep}a" || native "$work")" -CVERIMATCH "-MFILE:sub${sep}staff.bin" -CONTROL:w
    folder=$work expect 0 '2\r\nw\r\n'
    folder=$work expect_outputs
    expect_missing result.txt feature.txt scan.bmp error.txt qvlcapture.lock
  done
  run -WORKDIR:nowhere
  [ "$status" = 1 ] || fail "a missing working folder gave exit status $status"
  expect_message "$(said 'does not exist' 'не существует')"
}

case_busy_scanner() {
  # Runs in different folders share the one scanner: a start while another folder's capture polls
  # it is refused (5), calls no library function and touches nothing; quiet, it shows no box.
  local first
  mkdir "$top/a" "$top/b"
  QVLSIM_ARRIVE=file:$(native "$top/go") start "-WORKDIR:$(native "$top/a")" -CONTROL:first
  first=$pid
  wait_for_prompt >/dev/null || fail "the first run does not ask for a finger"
  QVLSIM_LOG=$(native "$top/second.log") run "-WORKDIR:$(native "$top/b")" -QUIET
  expect_refused ''
  expect_no_box
  # (On Linux the lock file stays, as after every run.)
  [ -z "$(ls -A "$top/b" | grep -vx qvlcapture.lock)" ] || fail "the refused start wrote: $(ls -A "$top/b")"
  touch "$top/go"
  pid=$first finish
  folder=$top/a expect 0 '-1\r\nfirst\r\n'
}

case_quiet() {
  # Unattended: no box waits for a person, not even the report of a crash. Its message is in
  # error.txt (UTF-8 with a mark), which every run that gets past the locks removes first.
  local missing crashed
  missing=$(said "The database $(native "$folder/staff.bin") is missing, or is not a file. Ask the administrator to place it there, or to name it with -MFILE:." \
    "База отпечатков $(native "$folder/staff.bin") не найдена, или по этому пути находится не файл. Обратитесь к администратору.")
  crashed=$(said "The scanner library $(native "$folder/$lib") crashed in QvlProcess: " \
    "Сбой в библиотеке сканера $(native "$folder/$lib") при вызове QvlProcess: ")
  while IFS='|' read -r settings switches exit_status text; do
    export QVLSIM_CRASH= $settings
    run -QUIET $switches
    expect "$exit_status" ''
    expect_no_box
    [[ "$(cat "$folder/error.txt")" == $'\xef\xbb\xbf'"$text"* ]] ||
      fail "error.txt holds $(od -An -c "$folder/error.txt" | head -3)"
  done <<EOF
QVLSIM_ARRIVE=never|-TIMEOUT:0|2|Произошел таймаут 2 минуты (120 секунд), попробуйте еще раз
QVLSIM_ARRIVE=never|-CMATCH -MFILE:staff.bin|1|$missing
QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access||6|$crashed
EOF
  unset QVLSIM_CRASH
  QVLSIM_ARRIVE=1polls run -QUIET -CONTROL:q
  expect 0 '-1\r\nq\r\n'
  expect_missing error.txt
  # A log viewer holding error.txt (on Linux a folder of that name stands in): the run is not
  # hurt by it, though error.txt then cannot be this run's.
  if [ -n "$windows" ]; then echo old >"$folder/error.txt"; hold "$folder/error.txt" read
  else mkdir "$folder/error.txt"; fi
  QVLSIM_ARRIVE=never run -QUIET -TIMEOUT:0
  expect 2 ''
  expect_no_box
  [ -z "$holder" ] || { kill -9 $holder; wait $holder 2>/dev/null; holder=; }
}

case_qvlsim_arguments() {
  ! "$build/qvlsim" database --fingers -1 --out "$top/x.bin" 2>"$top/messages" || fail "took -1"
  expect_message '--fingers takes a whole number from 0'
}

# --- Cases that need the real window ------------------------------------------------------

caller() {  # starts the program from caller.exe, a caller with a window of its own
  cp "$build/caller.exe" "$folder/"
  (cd / && exec "$WINE" "$folder/caller.exe" "$@" </dev/null >"$top/caller.log" 2>&1) &
  pid=$!
}

case_caller_window() {
  # Asked to start hidden or minimized, the window shows all the same; with -FOCUS the caller's
  # window is the active one again afterwards.
  for show in hide minimized; do
    QVLSIM_ARRIVE=2000ms caller --show $show "$folder/$exe" -CONTROL:$show
    find_window "$caption" 20 >/dev/null || fail "no visible window when started $show"
    finish
    expect_file result.txt "-1\r\n$show\r\n"
  done
  QVLSIM_ARRIVE=1000ms caller "$folder/$exe" -FOCUS -CONTROL:f
  finish
  expect 0 '-1\r\nf\r\n'
}

case_guide() {
  # The integrators' guide on the unpacked package, as written: its walkthrough (the ```bat block)
  # prints what it says (the ```text block), and each message its troubleshooting table quotes is
  # what the program shows in that situation (the rows below, in the table's order).
  local package bits row=0 shown expected quoted here english in_russian
  package=$(ls "$build"/qvlcapture-*.zip) || fail "no package built"
  bits=${package%.zip} bits=${bits##*-win}
  unzip -q "$package" -d "$top/unpacked"
  folder=$top/unpacked/$(basename "$package" .zip)
  here=$(native "$folder")
  # As an integrator builds the C samples.
  cp "$build/sample_caller.exe" "$folder/samples/caller.exe"
  cp "$build/sample_add_record.exe" "$folder/samples/add_record.exe"
  block() { sed -n "/^\`\`\`$1\$/,/^\`\`\`\$/p" "$folder/README.md" | sed '1d;$d'; }
  { echo '@echo off'; block bat; } | sed 's/$/\r/' >"$folder/walkthrough.cmd"  # as typed: no echo
  shown=$(cd "$folder" && QVLSIM_ARRIVE=1polls "$WINE" cmd /c walkthrough.cmd </dev/null 2>/dev/null |
    tr -d '\r')
  [ "$shown" = "$(block text)" ] || fail "the walkthrough printed: $shown"
  sed -n '/^## Troubleshooting/,/^## /p' "$folder/README.md" | grep '^| `' | cut -d'`' -f2,4 |
    tr '`' '|' >"$top/quoted"
  while IFS='|' read -r setup switches; do
    IFS='|' read -r -u 3 english in_russian || fail "the table has fewer rows than situations"
    quoted=$(said "$english" "$in_russian")
    ( eval "$setup" || exit 0  # a situation this build cannot meet
      QVLSIM_ARRIVE=1polls run $switches
      shown=$(tail -1 "$top/messages")
      expected=${quoted//'C:\Program Files\App'/"$here"}
      expected=${expected//'C:\App'/"$here"}
      expected=${expected//\\/\\\\}
      [[ $status =~ ^[156]$ && $shown == ${expected//…/*}* ]] ||
        fail "row $row: '$shown' (exit status $status) for '$quoted'"
      chattr -i "$folder"; [ -z "$holder" ] || kill -9 "$holder"
    ) || exit 1
    cp "$folder/simulator/$lib" "$folder/"
    rm -f "$folder/command.txt" "$folder/qvlcapture.lock"
    row=$((row + 1))
  done 3<"$top/quoted" <<EOF
[ $bits = 64 ] && cp "$build/e2e/other_bits/$lib" "$folder/"|
[ $bits = 32 ] && cp "$build/e2e/other_bits/$lib" "$folder/"|
rm "$folder/$lib"|
cp "$build/e2e/needs_dependency$suffix" "$folder/$lib"|
cp "$build/e2e/broken_scanner$suffix" "$folder/$lib"|
chattr +i "$folder" 2>/dev/null|
hold "$folder/qvlcapture.lock" read|
printf '\xef\xbb\xbf-\xce\xa9' >"$folder/command.txt"|
printf '\xff\xfe-\0C\0' >"$folder/command.txt"|
export QVLSIM_FAIL=process|
export QVLSIM_CRASH=access|
head -c 300 /dev/zero >"$folder/verify1.bin"|-CVERIFY
rm "$folder/match.bin"|-CMATCH
:|-CMATCH -MFILE:C:\\data\\staff.bin
head -c 256 /dev/zero >"$folder/verify1.bin"|-CVERIFY -LEVEL:40000
:|-CVERIFY -LEVEL:high
head -c 8388608 /dev/zero >"$folder/match.bin"|-CMATCH
:|-WORKDIR:nowhere
EOF
  [ "$(wc -l <"$top/quoted")" = "$row" ] || fail "the table has more rows than situations"
}

case_signed() {  # signed with the integrator's certificate: it checks, a change shows, it runs
  local package signed_file
  package=$(basename "$(ls "$build"/qvlcapture-*.zip)" .zip) || fail "no package built"
  cd "$top"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=test-ca \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj /CN=signer 2>/dev/null
  printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >signer.ext
  openssl x509 -req -in signer.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out signer.crt 2>/dev/null
  QVL_SIGN_CERT=signer.crt QVL_SIGN_KEY=signer.key "$root/cmake/package.sh" "$root" "$build" \
    "$package" "$top" >/dev/null || fail "the package step could not sign"
  cd package/$package
  sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the files"
  for signed_file in qvlcapture.exe simulator/qvlsim.exe; do
    osslsigncode verify -CAfile "$top/ca.crt" -in $signed_file | grep -q '^Succeeded' ||
      fail "$signed_file: no valid signature"
  done
  cp qvlcapture.exe "$folder/"
  printf '\x90' | dd of=qvlcapture.exe bs=1 seek=4096 conv=notrunc status=none
  ! osslsigncode verify -CAfile "$top/ca.crt" -in qvlcapture.exe 2>&1 | grep -q '^Succeeded' ||
    fail "a changed byte still passes the check"
  QVLSIM_ARRIVE=1polls run -CONTROL:signed
  expect 0 '-1\r\nsigned\r\n'
}

case_close_box() {
  # A click on the title bar's close box, in a Wine virtual desktop that draws title bars. The
  # program must end without a message box (one would block it), result.txt empty.
  local desktop x y
  (cd / && QVLSIM_ARRIVE=never exec "$WINE" explorer /desktop=qvlclose,800x600 "$folder/$exe" \
    -TIMEOUT:60 </dev/null >/dev/null 2>&1) &
  desktop=$(find_window 'qvlclose - Wine desktop' 20) || fail "no virtual desktop"
  (cd / && "$WINE" explorer /desktop=qvlclose,800x600 "$build/window_probe.exe" \
    "$("$WINE" winepath -w "$top/close.txt" 2>/dev/null)" </dev/null >/dev/null 2>&1)
  for _ in $(seq 100); do [ -s "$top/close.txt" ] && break || sleep 0.2; done
  read -r x y <"$top/close.txt" || fail "the close box was not found"
  sleep 0.5
  xdotool mousemove --window "$desktop" "$x" "$y" click 1
  # The program's own process: its command line starts with its path; explorer's only holds it.
  pgrep -f "^$folder/$exe" >/dev/null || fail "the program is not running before the click"
  for _ in $(seq 100); do pgrep -f "^$folder/$exe" >/dev/null && sleep 0.1 || break; done
  ! pgrep -f "^$folder/$exe" >/dev/null || fail "the program still runs after the click"
  expect_file result.txt ''
}

# How many pixels of picture $1 in the box $2 (WxH+X+Y) are exactly colour $3 (or dark: text).
count() {
  local select=(-fill black +opaque "$3" -fill white -opaque "$3")
  [ "$3" = dark ] && select=(-colorspace gray -threshold 45% -negate)
  convert "$1" -crop "$2" +repage -alpha off "${select[@]}" -format '%[fx:round(mean*w*h)]' info:
}

picture() {  # saves a picture of window $1 as $2.png among the build's pictures
  mkdir -p "$build/pictures"
  import -window "$1" "$build/pictures/$2.png" 2>/dev/null && echo "$build/pictures/$2.png"
}

set_dpi() {
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}

# Y: the X window is the client area alone, as a window manager would frame it. The fixture sets
# N, where Wine draws the frame inside the X window and never waits for a window manager.
set_managed() {
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f \
    </dev/null >/dev/null 2>&1
}

# The window as the user sees it at $1 DPI: its size, the prompt and the dark-blue countdown, then
# the notice that replaces them after the capture. Sizes in twips scale by the display's DPI.
picture_case() {
  local dpi=$1 blue='rgb(0,0,192)' window shot prompt_dark dark
  set_dpi "$dpi"
  set_managed Y
  trap 'set_dpi 96; set_managed N; kill -9 $pid 2>/dev/null; rm -rf "$top"' EXIT
  px() { echo $((($1 * dpi + 720) / 1440)); }  # twips to pixels, rounded
  local info="$(px 7095)x$(($(px 4455) - $(px 120)))+0+0" timer="$(px 6975)x$(px 855)+0+$(px 4440)"
  QVLSIM_ARRIVE=2200ms QVLSIM_DELAY_MS=3000 QVLSIM_DELAY_CALLS=process start -CVERIFY -TIMEOUT:5
  window=$(wait_for_prompt) || fail "no window titled '$caption'"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  [ "${WIDTH}x$HEIGHT" = "$(px 7110)x$(px 5370)" ] || fail "client area ${WIDTH}x$HEIGHT at $dpi DPI"
  sleep 0.4
  shot=$(picture "$window" "prompt-$dpi")
  prompt_dark=$(count "$shot" "$info" dark)
  [ "$prompt_dark" -gt 1000 ] || fail "no prompt text"
  [ "$(count "$shot" "$timer" "$blue")" -gt 20 ] || fail "no dark-blue countdown"
  [ "$(count "$shot" "$info" "$blue")" = 0 ] || fail "blue in the info line"
  # After the capture the short notice stays up while the library processes for 3 s: waited
  # for, not timed, as a cold prefix starts slower than a warm one.
  for _ in $(seq 60); do
    sleep 0.1
    shot=$(picture "$window" "captured-$dpi") || fail "the window went away"
    dark=$(count "$shot" "$info" dark)  # a shot may catch a label mid-repaint
    [ "$dark" -gt 300 ] && [ "$dark" -lt "$prompt_dark" ] && break
  done
  [ "$dark" -gt 300 ] && [ "$dark" -lt "$prompt_dark" ] || fail "the info line does not change"
  [ "$(count "$shot" "$timer" "$blue")" = 0 ] || fail "timer not cleared"
  finish 20
}

case_picture_96() { picture_case 96; }
case_picture_144() { picture_case 144; }

install "$folder"
"case_${name%_en}"
echo "PASS ($name)"
