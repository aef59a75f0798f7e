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
# real window. The cases themselves lie in cases_*.sh by subject (one capture, errors, shared
# desks, the real window, the web service), their helpers in helpers.sh.
set -u

# Where each case runs: l Linux; w Windows (a 64-bit prefix, Russian code page 1251); e Windows
# again under an English code page (1252), as CASE_en; 7 a 32-bit Windows 7 prefix.
cases='
captured lwe7        timeout lw7          closed lw7           compare lw7
odd_match lw         command_file lw      cyrillic_folder lwe
no_template lw7      error_stops lw       error_boxes lw       wrong_library lw
no_library lw7
unwritable_folder l  second_run lw        held_picture lw      quoted lw
crash lw7            languages lwe        qvlsim_arguments l   work_folder lw
busy_scanner lw      quiet lw             hang lw7             full_disk l
bridge_http l        bridge_browser l     bridge_wine w
bridge_guard l       bridge_cancel l      bridge_extension l
bridge_firefox l
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
# Whatever a case started (a bridge, a browser, a test origin) ends with it.
trap 'kill -9 $pid $holder 2>/dev/null; pkill -9 -f "$top" 2>/dev/null; umount "$top/small" 2>/dev/null; chattr -i "$folder" 2>/dev/null; rm -rf "$top"' EXIT
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
export QVLSIM_LOG=$([ -n "$windows" ] && echo "Z:${top//\//\\}\\calls" || echo "$top/calls")
# Callers start the program from a working folder of their own. This one holds a library named
# like one that the scanner library needs, which must never be loaded from there.
caller_folder=$top/caller
mkdir -p "$caller_folder"
cp "$build/e2e/qvl_dependency$suffix" "$caller_folder/"
answer_boxes=1  # finish answers the program's message boxes as the user would
# The program's standard error: on Linux the console window's text, the messages themselves.
stderr=stderr
[ -n "$windows" ] || stderr=messages

. "$root/e2e/helpers.sh"
for cases_file in "$root"/e2e/cases_*.sh; do . "$cases_file"; done


install "$folder"
"case_${name%_en}"
echo "PASS ($name)"
