# The cases of shared and unattended desks: two starts, held files, working folders, quiet runs.

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
  # A caller that kills a hung run starts the next at once, while the system may still be
  # tearing the first down.
  QVLSIM_ARRIVE=never start -TIMEOUT:60
  wait_for_prompt >/dev/null || fail "the run to kill does not ask for a finger"
  first=$pid
  kill -9 "$first"
  QVLSIM_ARRIVE=1polls run -CONTROL:fourth
  expect 0 '-1\r\nfourth\r\n'
  wait "$first" 2>/dev/null
  # A helper process that the library starts and leaves running holds none of the run's locks,
  # a forked copy that keeps every descriptor included.
  [ -n "$windows" ] && return
  for helper in 1 2; do
    QVLSIM_HELPER=$helper QVLSIM_ARRIVE=1polls run -CONTROL:helper
    QVLSIM_ARRIVE=1polls run -CONTROL:after
    expect 0 '-1\r\nafter\r\n'
  done
}


case_held_picture() {
  # A caller showing the last picture (GDI+ shares it for reading only) or an indexer looking at
  # it (sharing everything): the run answers all the same, scan.bmp is replaced as soon as the
  # system allows it, and the exit status says when it is not this run's (7). A leftover
  # scan.new.bmp that cannot be removed is never taken for this run's picture. Linux lets any file
  # be replaced: a folder of that name stands in for a held picture there.
  local rows=$'scan.bmp read 7\nscan.bmp all 0\nscan.new.bmp read 7'
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
  # A feature.txt that cannot be replaced (held, or a folder of that name on Linux) is an error:
  # never an answer beside the last person's template.
  if [ -n "$windows" ]; then echo old >"$folder/feature.txt" && hold "$folder/feature.txt" read
  else rm "$folder/feature.txt" && mkdir -p "$folder/feature.txt/x"; fi
  QVLSIM_ARRIVE=1polls run -QUIET -CONTROL:f
  expect 1 ''
  [ -z "$holder" ] || { kill -9 $holder; wait $holder 2>/dev/null; holder=; }
  rm -rf "${folder:?}/feature.txt"
  # Windows: an indexer holds scan.bmp on a disk with room for the new picture beside it but not
  # for a second copy, so the copy written in place is cut short: it must not stay.
  local small=$top/small
  mkdir "$small"
  [ -n "$windows" ] && mount -t tmpfs -o size=320k tmpfs "$small" 2>/dev/null || return 0
  echo old >"$small/scan.bmp"
  hold "$small/scan.bmp" all
  QVLSIM_ARRIVE=1polls run "-WORKDIR:$(native "$small")" -QUIET
  kill -9 "$holder"
  wait "$holder" 2>/dev/null
  holder=
  for _ in $(seq 20); do [ -e "$small/scan.bmp" ] && sleep 0.1; done
  if [ -e "$small/scan.bmp" ] && [ "$(stat -c %s "$small/scan.bmp")" != 235254 ]; then
    fail "a cut scan.bmp of $(stat -c %s "$small/scan.bmp") bytes stays"
  fi
  umount "$small"
}

case_work_folder() {
  # Each caller its own folder: the run's files lie there, and the program's folder is left as it
  # was. A full path with a Cyrillic name and a space, then one relative to the program's folder;
  # the database is named relative to the working folder.
  local work sep=/ database mode switches english in_russian
  [ -n "$windows" ] && sep=\\
  for work in "$top/рабочая папка" "$folder/runs/a"; do
    mkdir -p "$work/sub"
    folder=$work qvlsim database --fingers 3 --include 5@2 --out sub/staff.bin
    QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run "-WORKDIR:$([ "$work" = "$folder/runs/a" ] &&
      echo "runs${sep}a" || native "$work")" -CVERIMATCH "-MFILE:sub${sep}staff.bin" -CONTROL:w
    folder=$work expect 0 '2\r\nw\r\n'
    folder=$work expect_outputs
    expect_missing result.txt feature.txt scan.bmp error.txt qvlcapture.lock
    [ -z "$windows" ] || folder=$work expect_missing qvlcapture.lock  # deleted as the run ends
  done
  work="$top/рабочая папка"
  # With -WORKDIR: on the command line, the working folder's command.txt is the command (the
  # folder kept), and one left in the program's folder never speaks for this caller.
  printf -- '-CVERIFY -CONTROL:stale -TIMEOUT:1' >"$folder/command.txt"
  printf -- '-CVERIMATCH -MFILE:sub%sstaff.bin -CONTROL:file' "$sep" >"$work/command.txt"
  QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run "-WORKDIR:$(native "$work")" -CONTROL:line
  folder=$work expect 0 '2\r\nfile\r\n'
  printf -- '-LEVEL:high' >"$work/command.txt"
  run -QUIET "-WORKDIR:$(native "$work")"
  folder=$work expect 1 ''
  grep -qF "$(native "$work/command.txt")" "$work/error.txt" || fail "error.txt: $(cat "$work/error.txt")"
  rm "$work/command.txt" "$folder/command.txt"
  # A shared database by its full path, or one folder up, for both searches.
  mv "$work/sub/staff.bin" "$top/staff.bin"
  for database in "$(native "$top/staff.bin")" "..${sep}staff.bin"; do
    for mode in -CVERIMATCH -CMATCH; do
      QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run "-WORKDIR:$(native "$work")" $mode "-MFILE:$database"
      folder=$work expect 0 '2\r\n\r\n'
    done
  done
  # Any folder name: Greek, which the Russian code page cannot spell, for the working folder and
  # the database; and %NAME% from the environment, as a shortcut writes it.
  local greek="$top/Ελένη φάκελος"
  mkdir "$greek"
  cp "$top/staff.bin" "$greek/Ελένη.bin"
  QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run "-WORKDIR:$(native "$greek")" -CVERIMATCH -MFILE:Ελένη.bin -CONTROL:g
  folder=$greek expect 0 '2\r\ng\r\n'
  folder=$greek expect_outputs
  # The same from a UTF-8 command.txt in the program's folder: paths as the characters written.
  printf -- '"-WORKDIR:%s" -CVERIMATCH -MFILE:Ελένη.bin -CONTROL:Ξ' "$(native "$greek")" >"$folder/command.txt"
  QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 run
  folder=$greek expect 0 '2\r\nΞ\r\n'
  rm "$folder/command.txt"
  QVL_DESK=$(native "$top") QVLSIM_ARRIVE=1polls QVLSIM_FINGER=5 \
    run "-WORKDIR:%QVL_DESK%${sep}рабочая папка" -CVERIMATCH "-MFILE:%QVL_DESK%${sep}staff.bin" -CONTROL:e
  folder=$work expect 0 '2\r\ne\r\n'
  # Working folders that do not mean one thing: nothing is touched, and the message says why.
  touch "$folder/file.bin"
  while IFS="|" read -r switches english in_russian; do
    [ -n "$switches" ] || continue
    run "$switches" -CMATCH -MFILE:none.bin
    [ "$status" = 1 ] || fail "$switches gave exit status $status"
    expect_message "$(said "$english" "$in_russian")"
    expect_missing result.txt error.txt
  done <<EOF
-WORKDIR:|-WORKDIR: names no folder|В ключе -WORKDIR: не указана папка
-WORKDIR:   |-WORKDIR: names no folder|В ключе -WORKDIR: не указана папка
-WORKDIR:nowhere|$(native "$folder/nowhere") (-WORKDIR:) does not exist|$(native "$folder/nowhere") (ключ -WORKDIR:) не существует
-WORKDIR:file.bin|-WORKDIR: names the file $(native "$folder/file.bin"), not a folder|В ключе -WORKDIR: указан файл $(native "$folder/file.bin"), а не папка
$([ -n "$windows" ] && echo '-WORKDIR:C:x|-WORKDIR:C:x depends on the current drive|-WORKDIR:C:x зависит от текущего диска')
$([ -n "$windows" ] && echo '-WORKDIR:\x|-WORKDIR:\x depends on the current drive|-WORKDIR:\x зависит от текущего диска')
-WORKDIR:runs${sep}a${sep}${sep}|$(native "$folder/runs/a/none.bin")|$(native "$folder/runs/a/none.bin")
EOF
  # The same from the program folder's command.txt: the folder it names is not there, and the
  # program's folder is not the run's either, so nothing is written anywhere.
  printf -- '-WORKDIR:nowhere -QUIET -CVERIFY' >"$folder/command.txt"
  run
  [ "$status" = 1 ] || fail "a bad -WORKDIR: in command.txt gave exit status $status"
  expect_missing result.txt error.txt
  rm "$folder/command.txt"
}

# Windows: a mistake's box, shown before the scanner was opened, holds no scanner while it waits
# for a person; another folder's run meanwhile is not refused as busy.
mistake_frees_scanner() {
  local boxed
  mkdir -p "$top/m" "$top/n"
  start "-WORKDIR:$(native "$top/m")" -CMATCH -MFILE:none.bin
  boxed=$pid
  find_window qvlcapture 20 >/dev/null || fail "the missing database shows no message"
  QVLSIM_ARRIVE=1polls answer_boxes= run "-WORKDIR:$(native "$top/n")" -CONTROL:free
  folder=$top/n expect 0 '-1\r\nfree\r\n'
  pid=$boxed finish
  [ "$status" = 1 ] || fail "the missing database ended with $status"
}

# Windows: a capture killed while a refused start (its box still open) holds the scanner lock open
# leaves the lock abandoned, not gone: the next start takes it over.
killed_scanner_lock() {
  local first second
  mkdir "$top/c"
  QVLSIM_ARRIVE=never start "-WORKDIR:$(native "$top/a")" -TIMEOUT:60
  first=$pid
  wait_for_prompt >/dev/null || fail "the run to kill does not ask for a finger"
  start "-WORKDIR:$(native "$top/b")"
  second=$pid
  find_window qvlcapture 20 >/dev/null || fail "the refused start shows no message"
  kill -9 "$first"
  wait "$first" 2>/dev/null
  QVLSIM_ARRIVE=1polls answer_boxes= run "-WORKDIR:$(native "$top/c")" -CONTROL:after
  folder=$top/c expect 0 '-1\r\nafter\r\n'
  pid=$second finish
  expect_refused ''
}

case_busy_scanner() {
  # Runs in different folders share the one scanner: a start while another folder's capture polls
  # it is refused (5) and calls no library function; quiet, it shows no box. Its own folder keeps
  # no earlier answer, and error.txt says why.
  local first
  mkdir "$top/a" "$top/b"
  QVLSIM_ARRIVE=file:$(native "$top/go") start "-WORKDIR:$(native "$top/a")" -CONTROL:first
  first=$pid
  wait_for_prompt >/dev/null || fail "the first run does not ask for a finger"
  printf '1\r\nold\r\n' >"$top/b/result.txt"
  QVLSIM_LOG=$(native "$top/second.log") run "-WORKDIR:$(native "$top/b")" -QUIET
  expect_refused ''
  expect_no_box
  folder=$top/b expect 5 ''
  grep -q "$(said 'The scanner is busy' 'Сканер занят')" "$top/b/error.txt" || fail "error.txt: $(cat "$top/b/error.txt")"
  touch "$top/go"
  pid=$first finish
  folder=$top/a expect 0 '-1\r\nfirst\r\n'
  [ -n "$windows" ] && { mistake_frees_scanner; killed_scanner_lock; return; }
  # Where the scanner lock lies on Linux: in the user's runtime folder, else in a folder of the
  # account's own under its home, never where another account can write; a blank setting
  # counts as none.
  local runtime name file
  mkdir "$top/xdg"
  while IFS='|' read -r runtime name file; do
    HOME=$top/home XDG_RUNTIME_DIR=$runtime QVLCAPTURE_SCANNER_LOCK=$name QVLSIM_ARRIVE=1polls run -CONTROL:l
    expect 0 '-1\r\nl\r\n'
    [ -e "$file" ] || fail "no scanner lock at $file"
  done <<EOF
$top/xdg|${top##*/}-x|$top/xdg/${top##*/}-x.lock
|${top##*/}-y|$top/home/.cache/qvlcapture/${top##*/}-y.lock
$top/xdg||$top/xdg/qvlcapture-scanner.lock
EOF
  [ "$(stat -c %a "$top/home/.cache/qvlcapture")" = 700 ] || fail "the lock's folder is open to others"
}

case_quiet() {
  # Unattended: no box waits for a person, not even the report of a crash. Its message is in
  # error.txt (UTF-8 with a mark), which every run that gets past the locks removes first.
  local missing crashed nine='-FOCUS -FOCUS -FOCUS -FOCUS -FOCUS -FOCUS -FOCUS -FOCUS -FOCUS'
  missing=$(said "The database $(native "$folder/staff.bin") is missing, or is not a file. Ask the administrator to place it there, or to name it with -MFILE:." \
    "База отпечатков $(native "$folder/staff.bin") не найдена, или по этому пути находится не файл. Попросите администратора поместить её туда или указать другой файл в ключе -MFILE:.")
  crashed=$(said "The scanner library $(native "$folder/$lib") crashed in QvlProcess: " \
    "Сбой в библиотеке сканера $(native "$folder/$lib") при вызове QvlProcess: ")
  while IFS='|' read -r settings switches exit_status text; do
    export QVLSIM_CRASH= QVLSIM_FAIL= QVLSIM_FLAG=1 $settings
    run -QUIET $switches
    expect "$exit_status" ''
    expect_no_box
    [[ "$(cat "$folder/error.txt")" == $'\xef\xbb\xbf'"$text"* ]] ||
      fail "error.txt holds $(od -An -c "$folder/error.txt" | head -3)"
    grep -qF "qvlcapture: $text" "$top/$stderr" || fail "standard error holds $(cat "$top/$stderr")"
  done <<EOF
QVLSIM_ARRIVE=never|-TIMEOUT:0|2|$(said 'No print. Try again. If a finger was put on the scanner, check its cable and driver (QvlOpenDevice returned 0 ' 'Отпечаток не получен. Повторите попытку. Если палец прикладывали, проверьте кабель и драйвер сканера (функция QvlOpenDevice вернула код 0).')
QVLSIM_ARRIVE=never QVLSIM_FAIL=open|-TIMEOUT:1.5|2|$(said 'No print within 1.5 s. Try again.' 'Отпечаток не получен за 1,5 с. Повторите попытку.')
QVLSIM_ARRIVE=1polls QVLSIM_FLAG=2|-TIMEOUT:60|4|$(said 'The scanner reported no print: QvlGetImage gave the capture flag 2, not 1.' 'Сканер не передал отпечаток: функция QvlGetImage вернула признак захвата 2 вместо 1.')
QVLSIM_ARRIVE=never|-CMATCH -MFILE:staff.bin|1|$missing
QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access||6|$crashed
QVLSIM_ARRIVE=1polls|-CVERIMACH|1|$(said '-CVERIMACH is no switch of qvlcapture.' 'Аргумент -CVERIMACH не является ключом qvlcapture.')
QVLSIM_ARRIVE=1polls|/FOCUS -CVERIFY|1|$(said '/FOCUS is no switch of qvlcapture.' 'Аргумент /FOCUS не является ключом qvlcapture.')
QVLSIM_ARRIVE=1polls|$nine -CONTROL:eleven|1|$(said '-CONTROL:eleven is the eleventh argument' 'Аргумент -CONTROL:eleven — одиннадцатый')
EOF
  unset QVLSIM_CRASH QVLSIM_FAIL QVLSIM_FLAG
  # -QUIET holds over a command.txt left in the program's folder, which no box may wait for;
  # without -QUIET a mistyped switch is ignored, as it always was.
  for left in '-TIMEOUT:0 -CONTROL:left|2' '-LEVEL:high -CONTROL:left|1' '-QIUET -CONTROL:left|1'; do
    printf -- '%s' "${left%|*}" >"$folder/command.txt"
    QVLSIM_ARRIVE=never run -QUIET
    expect "${left#*|}" ''
    expect_no_box
  done
  rm "$folder/command.txt"
  QVLSIM_ARRIVE=1polls run -CVERIMACH /FOCUS -CONTROL:n
  expect 0 '-1\r\nn\r\n'
  # Past the tenth argument: ignored as ever, but a -QUIET there still holds, and the mistake is
  # said.
  QVLSIM_ARRIVE=1polls run $nine -CONTROL:ten -CONTROL:eleven
  expect 0 '-1\r\nten\r\n'
  QVLSIM_ARRIVE=1polls run $nine -CONTROL:ten -QUIET
  expect 1 ''
  expect_no_box
  # An answer without a picture of its own says why on standard error.
  QVLSIM_ARRIVE=1polls QVLSIM_FAIL=bmp run -QUIET -CONTROL:p
  expect 7 '-1\r\np\r\n'
  grep -qF "$(said 'but scan.bmp holds no picture of this capture' 'но в scan.bmp нет снимка этого снятия')" "$top/$stderr" ||
    fail "standard error holds $(cat "$top/$stderr")"
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

case_hang() {
  # A library call that never returns ends the run by itself, all six at once, each in a folder
  # and with a scanner of its own: exit 8, the call named, no answer, and nothing of the step
  # that hung. The first shows its message (a box under Windows), the others are quiet.
  local call pids=() quiet= box=
  # Meanwhile a timeout box that a person leaves open for longer than any call may take is no
  # hung call: on Linux a terminal's Enter, 34 s after the last call.
  if [ -z "$windows" ]; then
    (sleep 34; echo) | QVLCAPTURE_SCANNER_LOCK=${top##*/}-box QVLSIM_ARRIVE=never \
      script -qec "'$folder/$exe' -TIMEOUT:0" /dev/null >/dev/null 2>&1 &
    box=$!
  fi
  qvlsim enroll --finger 1 --out verify1.bin
  qvlsim database --fingers 3 --out match.bin
  for call in open image process save match matchn; do
    mkdir "$top/$call"
    cp "$folder/verify1.bin" "$folder/match.bin" "$top/$call/"
    QVLCAPTURE_SCANNER_LOCK=${top##*/}-$call QVLSIM_HANG=$call QVLSIM_ARRIVE=1polls \
      start $quiet "-WORKDIR:$(native "$top/$call")" -CVERIFY -CMATCH -CONTROL:h
    pids+=("$pid")
    quiet=-QUIET
  done
  for call in open image process save match matchn; do
    pid=${pids[0]} pids=("${pids[@]:1}")
    finish 50
    folder=$top/$call expect 8 ''
    local named="$(said "stopped answering: Qvl" "перестала отвечать: функция Qvl")"
    grep -qF "$named" "$top/$call/error.txt" || fail "$call: error.txt holds $(cat "$top/$call/error.txt")"
    case $call in
      open|image|process) folder=$top/$call expect_missing feature.txt scan.bmp ;;
      save) folder=$top/$call expect_missing feature.txt ;;
    esac
  done
  expect_message "$(said "stopped answering: QvlOpenDevice" "перестала отвечать: функция QvlOpenDevice")"
  [ -z "$box" ] || { wait "$box"; status=$?; }
  [ -z "$box" ] || [ "$status" = 2 ] || fail "a box left open ended the run with exit status $status"
}

case_qvlsim_arguments() {
  ! "$build/qvlsim" database --fingers -1 --out "$top/x.bin" 2>"$top/messages" || fail "took -1"
  expect_message '--fingers takes a whole number from 0'
}

