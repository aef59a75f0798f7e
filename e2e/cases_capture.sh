# The cases of one capture: its answer, its files and the command that asked for it.

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
  # The box names the wait: the words callers' users know for the default 120 s.
  while IFS='|' read -r exit_status timeout settings text; do
    printf '1\r\nold\r\n' >"$folder/result.txt"
    export $settings
    run $timeout -CONTROL:x
    expect "$exit_status" ''
    expect_missing feature.txt error.txt
    expect_message "$text"
  done <<'EOF'
2|-TIMEOUT:3|QVLSIM_ARRIVE=never|Произошёл таймаут 3 секунды, попробуйте ещё раз
4|-TIMEOUT:120|QVLSIM_ARRIVE=1polls QVLSIM_FLAG=2|Произошел таймаут 2 минуты (120 секунд), попробуйте еще раз
EOF
}

case_closed() {
  # Also while the library is busy in a slow poll: the close is noticed at the next pump.
  # Unattended too: a closed window is no error, and error.txt says nothing of it.
  for delay in 0 1500; do
    QVLSIM_ARRIVE=never QVLSIM_DELAY_MS=$delay QVLSIM_DELAY_CALLS=poll start -TIMEOUT:60 -CONTROL:x \
      $([ $delay = 0 ] || echo -QUIET)
    close_window
    finish 10
    expect 3 ''
    expect_missing error.txt
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
  # command.txt as callers, editors and shells write it; from there the token reaches result.txt
  # byte for byte as written, and from the command line in the ANSI code page; a UTF-16 file is
  # answered with a result.txt wholly in its encoding, mark first, so that every reader decodes it.
  qvlsim enroll --finger 4 --out verify1.bin
  qvlsim database --fingers 2 --include 4@1 --out staff.bin
  mv "$folder/staff.bin" "$folder/база.bin"
  local beetle=Жук  # comes back in the ANSI code page
  [ "$codepage" = 1251 ] && beetle='\xc6\xf3\xea'
  export QVLSIM_ARRIVE=1polls QVLSIM_FINGER=4
  while IFS='|' read -r content switches exit_status result; do
    case $content in  # PowerShell's UTF-16, with its mark
      utf-16le:*) { printf '\xff\xfe'; printf -- "${content#*:}" | iconv -f UTF-8 -t UTF-16LE; } ;;
      utf-16be:*) { printf '\xfe\xff'; printf -- "${content#*:}" | iconv -f UTF-8 -t UTF-16BE; } ;;
      *) printf -- "$content" ;;
    esac >"$folder/command.txt"
    run $switches
    expect "$exit_status" "$result"
  done <<EOF
-CVERIFY\r\n-CONTROL:lines\r\n|-CONTROL:ignored|0|1\r\nlines\r\n
\xef\xbb\xbf-CVERIFY -CONTROL:notepad|-CONTROL:ignored|0|1\r\nnotepad\r\n
\xef\xbb\xbf-CVERIMATCH -MFILE:база.bin -CONTROL:Жук|-CONTROL:ignored|0|1\r\nЖук\r\n
\r\n|-CVERIFY -CONTROL:blank|0|1\r\nblank\r\n
-CONTROL:\xc0\xff\x01\x00\x7f -TIMEOUT:5\r\n|-CONTROL:ignored|0|-1\r\n\xc0\xff\x01\x00\x7f\r\n
|-CONTROL:Жук|0|-1\r\n$beetle\r\n
-CVERIMATCH -MFILE:база.bin -CONTROL:Жук|-CONTROL:ignored|0|1\r\nЖук\r\n
-CONTROL:A1 -CVERIFY\0\0\0\0|-CONTROL:ignored|0|1\r\nA1\r\n
"-CONTROL: say ""hi"" " "-MFILE: база.bin " -CVERIMATCH|-CONTROL:ignored|0|1\r\nsay "hi"\r\n
utf-16le:-CVERIMATCH -MFILE:база.bin -CONTROL:Жук\r\n|-CONTROL:ignored|0|\xff\xfe1\x00\r\x00\n\x00\x16\x04\x43\x04\x3a\x04\r\x00\n\x00
utf-16be:-CVERIFY -CONTROL:Жук|-CONTROL:ignored|0|\xfe\xff\x001\x00\r\x00\n\x04\x16\x04\x43\x04\x3a\x00\r\x00\n
utf-16le:-CVERIFY -CONTROL:ok\xf0\x9f\x98\x80|-CONTROL:ignored|0|\xff\xfe1\x00\r\x00\n\x00o\x00k\x00\x3d\xd8\x00\xde\r\x00\n\x00
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
  [ -n "$windows" ] && return
  # The Linux command line, quoted back as Windows spells it: a backslash before a quote.
  run '-CONTROL:a\\"b'
  expect 0 '-1\r\na\\\\"b\r\n'
}

case_full_disk() {
  # The disk fills up (a file-size limit of N KiB stands in for it) at each output in turn: never
  # a cut or emptied file where a whole one stood, nor a cut error.txt. The library's picture is
  # cut at any of these limits: no picture then, the last person's removed, and the answer says so.
  local token
  token=$(head -c 9000 /dev/zero | tr '\0' t)
  while IFS='|' read -r limit control exit_status message feature; do
    echo old | tee "$folder/feature.txt" "$folder/scan.bmp" >"$folder/error.txt"
    (ulimit -f "$limit" && trap '' XFSZ && QVLSIM_ARRIVE=1polls run "-CONTROL:${control/long/$token}" &&
      exit "$status")
    status=$?
    [ "$status" = "$exit_status" ] || fail "limit $limit: exit status $status, want $exit_status"
    [[ $exit_status == [07] ]] && expect_file result.txt "-1\r\n$control\r\n" || expect_file result.txt ''
    case $message in
      none) expect_missing error.txt ;;
      *) [[ "$(cat "$folder/error.txt")" == $'\xef\xbb\xbf'"$(said "$message" "Не удалось записать")"*$'\r' ]] ||
           fail "limit $limit: error.txt holds $(cat "$folder/error.txt")" ;;
    esac
    [ "$feature" = new ] || expect_file feature.txt 'old\n'
    [ "$feature" = old ] || [ "$(grep -c $'\r$' "$folder/feature.txt")" = 257 ] || fail "limit $limit: feature.txt cut: $(od -c "$folder/feature.txt" | head -3)"
    expect_missing scan.bmp scan.new.bmp feature.new.txt
  done <<'EOF'
0|t|1|none|old
1|t|1|Cannot write|old
8|t|7|none|new
8|long|1|Cannot write|new
EOF
  # A library that gives up after the first bytes of the picture: no picture, not a cut one, and
  # the answer says so (7).
  QVLSIM_ARRIVE=1polls QVLSIM_FAIL=bmp_short run -CONTROL:t
  expect 7 '-1\r\nt\r\n'
  expect_missing scan.bmp scan.new.bmp
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
  expect 7 '-1\r\nt\r\n'
  expect_missing scan.bmp scan.new.bmp
}

