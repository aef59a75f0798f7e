# The cases of a run that cannot go on: setup mistakes, libraries that cannot serve, crashes,
# and the language each is told in.

# Setup mistakes stop the run before a finger is asked for: exit 1, result.txt empty, the cause
# named (in error.txt too), and the scanner never even opened. Whatever the mistake, -QUIET and
# -WORKDIR: hold: no box, and the program's folder is left as it was. Quiet (error_stops) and with
# the box a person answers (error_boxes): two cases, each well inside its time on a loaded machine.
case_error_stops() { error_stops "-QUIET -WORKDIR:$(native "$top/work")"; }
case_error_boxes() { error_stops ''; }

error_stops() {
  export QVLSIM_ARRIVE=1polls QVLSIM_LOG=$(native "$top/calls.log")
  local work=$top/work quiet=$1 at
  mkdir "$work"
  while IFS='|' read -r setup switches named; do
    echo "step: $switches ${quiet:+(quiet)}"
    at=$folder
    [ -z "$quiet" ] || at=$work
    rm -rf "$folder"/*.bin "$folder"/*.txt "$folder/qvlcapture.lock" "${work:?}"/* "$top/calls.log"
    (cd "$at" && eval "$setup")
    printf '1\r\nold\r\n' >"$at/result.txt"
    run $quiet $switches -CONTROL:t
    folder=$at expect 1 ''
    grep -qF -- "$named" "$at/error.txt" || fail "error.txt: $(cat "$at/error.txt")"
    if [ -n "$quiet" ]; then expect_no_box; else expect_message "$named"; fi
    folder=$at expect_missing feature.txt scan.bmp ../calls.log
    [ -z "$quiet" ] || [ "$(ls -A "$folder" | sort)" = "$(printf '%s\n' "$exe" "$lib" | sort)" ] ||
      fail "the program's folder holds $(ls -A "$folder")"
  done <<'EOF'
:|-TIMEOUT:1e999|-TIMEOUT:
:|-CVERIFY -LEVEL:high|-LEVEL:high
:|-CVERIMATCH -LEVEL:|-LEVEL:
:|-CVERIMATCH -MFILE:staff.bin|staff.bin
:|-CMATCH -MFILE:/x/staff.bin|/x/staff.bin
:|-CMATCH -MFILE:C:staff.bin|C:staff.bin
:|-CMATCH -MFILE:\staff.bin|\staff.bin
mkdir match.bin|-CMATCH|match.bin
truncate -s 8T huge.bin|-CVERIMATCH -MFILE:huge.bin|huge.bin
head -c 8388608 /dev/zero >match.bin|-CMATCH|32768
head -c 258 /dev/zero >verify1.bin|-CVERIFY|verify1.bin
head -c 256 /dev/zero >verify1.bin|-CVERIFY -LEVEL:40000|40000
EOF
  [ -n "$quiet" ] || return 0
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
  local start=_init own quiet
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
bus 1polls SIGBUS skip QvlProcess:
illegal 1polls SIGILL EXCEPTION_ILLEGAL_INSTRUCTION QvlProcess:
divide 1polls SIGFPE EXCEPTION_INT_DIVIDE_BY_ZERO QvlProcess:
stack 1polls SIGSEGV skip QvlProcess:
thread never SIGSEGV EXCEPTION_ACCESS_VIOLATION $own:
thread_system never SIGSEGV EXCEPTION_ACCESS_VIOLATION $own:
load 1polls SIGSEGV - $start
EOF
  # A crash that holds the system's heap: its report is in error.txt all the same (written with
  # system calls alone), and the run ends, quiet or not.
  for quiet in -QUIET ''; do
    QVLSIM_ARRIVE=1polls QVLSIM_CRASH=heap run $quiet -CONTROL:t
    expect 6 ''
    grep -qF "$(said 'crashed in QvlProcess' 'при вызове QvlProcess')" "$folder/error.txt" ||
      fail "a crash holding the heap: error.txt holds $(cat "$folder/error.txt" 2>&1)"
  done
  expect_missing feature.txt scan.bmp
  if [ -n "$windows" ]; then
    # The crash box waits for its person: the last resort that ends a blocked report is off.
    QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access start -CONTROL:t
    find_window qvlcapture 20 >/dev/null || fail "no crash box"
    sleep 6
    kill -0 "$pid" 2>/dev/null || fail "the crash box closed itself"
    finish
    expect 6 ''
    return
  fi
  # A report that cannot be written (stderr a pipe nobody reads, with room for what comes before
  # the report and not for the report) ends the run all the same, with its status.
  local before
  QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access "$folder/$exe" </dev/null >/dev/null 2>"$top/said"
  before=$(grep -b -o 'qvlcapture: error' "$top/said" | cut -d: -f1)
  status=$(QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access python3 -c '
import fcntl, os, subprocess, sys
r, w = os.pipe()
fcntl.fcntl(w, fcntl.F_SETFL, os.O_NONBLOCK)
try:
    while True: os.write(w, b"x" * 4096)
except BlockingIOError:
    os.read(r, 4096)  # one page free, then all of it taken but the room asked for
    os.write(w, b"x" * (4096 - int(sys.argv[2])))
fcntl.fcntl(w, fcntl.F_SETFL, 0)
run = subprocess.Popen([sys.argv[1]], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=w)
try:
    print(run.wait(timeout=20))
except subprocess.TimeoutExpired:
    run.kill(); print("never")
' "$folder/$exe" $((before + 60)))
  [ "$status" = 6 ] || fail "a report that cannot be written: exit status $status"
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
  # The system's reason for a folder named result.txt, in English and Russian (Wine's, glibc's),
  # and the full stop that a message ending with glibc's reason is given.
  local result=$(native "$folder/result.txt") reasons=('Is a directory.' 'это каталог.')
  [ -n "$windows" ] && reasons=('Access denied.' 'доступ запрещён.')
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
  # Root writes anywhere: only an immutable folder, or a read-only mount, really refuses it. The
  # last person's answer in a result.txt that can still be written is emptied all the same. Told
  # in both languages, each as the program words it now.
  local refuses language
  chattr +i "$folder" 2>/dev/null || { echo "SKIPPED: no immutable folders here"; exit 77; }
  chattr -i "$folder"
  for language in C.UTF-8 ru_RU.UTF-8; do
    export LC_ALL=$language
    russian=$([[ $LC_ALL == ru* ]] && echo 1)
    refuses=$(said ". qvlcapture keeps a run's files in its working folder, and that must be a folder that the user can write to, not under Program Files or on a read-only share. Ask the administrator to install qvlcapture in a folder that the user can write to, or to give it such a folder with -WORKDIR:." \
      '. Программа qvlcapture записывает свои файлы в рабочую папку, и у пользователя должно быть право записи в неё: это не может быть папка в Program Files или сетевая папка, открытая только для чтения. Обратитесь к администратору: программу qvlcapture нужно установить в папку, доступную пользователю для записи, или указать такую папку в ключе -WORKDIR:.')
    printf '1\r\nold\r\n' >"$folder/result.txt"
    chattr +i "$folder"
    QVLSIM_ARRIVE=1polls run
    [ "$status" = 1 ] || fail "exit status $status"
    expect_file result.txt ''
    expect_message "$refuses"
    ! grep -qF '.. qvlcapture' "$top/messages" || fail "the system's full stop stays"
    chattr -i "$folder"
    rm "$folder/result.txt"
  done
  [ -z "$windows" ] && mount --bind "$folder" "$folder" 2>/dev/null || return 0
  mount -o remount,ro,bind "$folder" && QVLSIM_ARRIVE=1polls run
  umount "$folder"
  [ "$status" = 1 ] || fail "exit status $status on a read-only mount"
  expect_message "$refuses"
}

