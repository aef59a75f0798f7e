# The cases that need the real Windows window, its package and its pictures.

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
  [ -s "$folder/extension/manifest.json" ] || fail "the package has no browser extension"
  # The policy samples the guide's fleet section names, with the placeholders it tells to fill.
  grep -q 'ExtensionInstallForcelist' "$folder/samples/policies/chromium-forcelist.reg" &&
    grep -q '"qvlcapture@qvlcapture.ru"' "$folder/samples/policies/policies.json" ||
    fail "the package has no policy samples"
  for named in chromium-forcelist.reg policies.json EXTENSION_ID UPDATE_URL XPI_URL -INSTALL:ALL; do
    grep -qF -- "$named" "$folder/README.md" || fail "the guide does not say $named"
  done
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
printf '\xff\xfe-\x00\x00\xd8' >"$folder/command.txt"|
printf -- '-\0C\0' >"$folder/command.txt"|
export QVLSIM_FAIL=process|
export QVLSIM_CRASH=access|
head -c 300 /dev/zero >"$folder/verify1.bin"|-CVERIFY
rm "$folder/match.bin"|-CMATCH
:|-CMATCH -MFILE:\\data\\staff.bin
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
