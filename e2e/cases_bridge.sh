# The local web service: what it answers over HTTP while runs crash, hang and overlap, and the
# Windows builds under Wine. The sample portal in real browsers: cases_browser.sh.

page=http://127.0.0.1:8000  # the portal's origin, allowed in every bridge here

# Starts qvlbridge, in a program folder of its own named $1, with the settings $2 (JSON members
# of qvlbridge.json) and the stand-in's settings that follow; sets $bridge (its address) and
# $bridge_pid, and waits until it answers.
start_bridge() {
  local name=$1 settings=$2 port=$((20000 + RANDOM % 20000))
  shift 2
  install "$top/$name"
  cp "$build/qvlbridge$program" "$top/$name/"
  printf '{"allowed_origins": ["%s"], "port": %s %s}' "$page" "$port" "$settings" >"$top/$name/qvlbridge.json"
  (cd "$caller_folder" && exec env XDG_STATE_HOME="$top/state" QVLCAPTURE_SCANNER_LOCK="${top##*/}-$name" "$@" \
    $WINE "$top/$name/qvlbridge$program" </dev/null >>"$top/bridge.log" 2>&1) &
  bridge_pid=$! bridge=http://127.0.0.1:$port
  for _ in $(seq 100); do curl -sf "$bridge/v1/status" >/dev/null && return 0 || sleep 0.2; done
  fail "qvlbridge does not answer at $bridge: $(cat "$top/bridge.log")"
}

# Posts the capture request $1 from the portal's origin; sets $code, and the answer is in
# $top/answer.
capture() {
  code=$(curl -s -o "$top/answer" -w '%{http_code}' -H "Origin: $page" -H 'Content-Type: application/json' \
    --data "$1" "$bridge/v1/capture")
}

field() {  # a member of the last answer, as JSON
  python3 -c 'import json, sys; print(json.dumps(json.load(open(sys.argv[1]))[sys.argv[2]]))' "$top/answer" "$1"
}

expect_ending() {  # the HTTP status 200, the ending $1 and the exit status $2
  [ "$code" = 200 ] && [ "$(field ending)" = "\"$1\"" ] && [ "$(field status)" = "$2" ] ||
    fail "HTTP $code, want ending $1 and status $2: $(head -c 600 "$top/answer")"
}

started_by() {  # the processes of the bridge $1's runs whose command line matches $2
  grep -lz "^QVLCAPTURE_SCANNER_LOCK=${top##*/}-$1\$" /proc/[0-9]*/environ 2>/dev/null |
    while read -r environ; do pid=${environ#/proc/} pid=${pid%/environ}
      [[ "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" =~ $2 ]] && echo "$pid"; done
}

helpers_of() { started_by "$1" '^sleep 5 $'; }  # the stand-in's helpers, left running

expect_no_runs() {  # no biometric file stays on the disk, whatever the ending
  [ -z "$(find "$top/state" -path '*/runs/*' 2>/dev/null)" ] || fail "left behind: $(find "$top/state" -path '*/runs/*')"
}

case_bridge_http() {
  # A crash, a hang the program ends itself (8) and one the bridge must end, and a request over
  # the limit, each while the bridge goes on serving; a second request while a capture runs.
  local first
  start_bridge crashing '' QVLSIM_ARRIVE=1polls QVLSIM_CRASH=access
  capture '{"mode": "enroll", "token": "c"}'
  expect_ending library_crashed 6
  [[ "$(field message)" == '"The scanner library '*QvlProcess* ]] || fail "the crash's message: $(field message)"  # no mark
  # It listens on the loopback address alone, and logs every request, the older ones kept.
  grep -q "0100007F:$(printf %04X "${bridge##*:}") 00000000:0000 0A" /proc/net/tcp ||
    fail "not listening on 127.0.0.1 alone: $(grep ":$(printf %04X "${bridge##*:}") " /proc/net/tcp)"
  [ "$(grep -c ' /v1/' "$top/state/qvlbridge/qvlbridge.log")" -ge 2 ] || fail "the log keeps one line"
  start_bridge hanging '' QVLSIM_ARRIVE=1polls QVLSIM_HANG=process
  capture '{"mode": "enroll", "timeout": 5}'
  expect_ending library_hung 8
  # The bridge ends a run it must end with everything the run started.
  start_bridge stuck ', "extra_seconds": 2' QVLSIM_ARRIVE=1polls QVLSIM_HANG=image QVLSIM_HELPER=1
  capture '{"mode": "enroll", "timeout": 1}'
  expect_ending library_hung null
  [ -z "$(helpers_of stuck)" ] || fail "a killed run's helper lives on"
  # An answer without a picture of its own (7) still carries the run's template, read from its
  # files.
  start_bridge bare '' QVLSIM_ARRIVE=1polls QVLSIM_FAIL=bmp
  capture '{"mode": "enroll"}'
  expect_ending picture_not_replaced 7
  [ "$(python3 -c 'import base64, json, sys; print(len(base64.b64decode(json.load(open(sys.argv[1]))["template"])))' "$top/answer")" = 257 ] &&
    [ "$(field picture)" = null ] || fail "exit 7 answered $(head -c 300 "$top/answer")"
  # A descriptor the bridge was started with (a session manager's, say) never reaches a run.
  exec 9>"$top/leaked"
  start_bridge small ', "max_request_bytes": 1000' QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_HELPER=1
  exec 9>&-
  capture "{\"mode\": \"identify\", \"database\": \"$(head -c 1024 /dev/zero | base64 -w0)\"}"
  [ "$code" = 413 ] || fail "an over-large request got $code"
  (capture '{"mode": "enroll", "timeout": 30, "token": "first"}' && echo "$code" >"$top/first.code") &
  first=$!
  for _ in $(seq 50); do curl -s "$bridge/v1/status" | grep -q '"capture_running":true' && break || sleep 0.1; done
  code=$(curl -s -o /dev/null -w '%{http_code}' -H "Origin: $page" -H 'Content-Type: application/json' \
    --data '{"mode": "enroll"}' "$bridge/v1/capture")
  [ "$code" = 409 ] || fail "a second capture got $code"
  local run
  wait_for "the run's process" 'run=$(started_by small "qvlcapture") && [ -n "$run" ]'
  ! ls -l "/proc/$run/fd" | grep -E 'leaked|socket:' || fail "the run holds the bridge's descriptors"
  touch "$top/finger"
  wait "$first"
  code=$(cat "$top/first.code")
  expect_ending answered 0
  [ "$(field token)" = '"first"' ] && [ "$(field matches)" = '[]' ] || fail "$(head -c 300 "$top/answer")"
  [ -z "$(helpers_of small)" ] || fail "a run's helper outlives its answer"
  # A run killed by a signal answered nothing, whatever its exit status's low bits say.
  rm "$top/finger"
  (capture '{"mode": "enroll", "timeout": 30}' && echo "$code" >"$top/killed.code") &
  first=$!
  for _ in $(seq 50); do pkill -9 -f "^$top/small/qvlcapture" && break || sleep 0.1; done
  wait "$first"
  code=$(cat "$top/killed.code")
  expect_ending error 137
  touch "$top/finger"
  # A page closed mid-capture: the run ends as it would, its folder goes, the bridge serves on.
  rm "$top/finger"
  curl -s --max-time 1 -o /dev/null -H "Origin: $page" -H 'Content-Type: application/json' \
    --data '{"mode": "enroll", "timeout": 2}' "$bridge/v1/capture"
  for _ in $(seq 100); do curl -s "$bridge/v1/status" | grep -q '"capture_running":false' && break || sleep 0.1; done
  curl -sf "$bridge/v1/status" | grep -q '"library_found":true' || fail "no status after all that"
  expect_no_runs
  # Started at logon, from a folder whose name has a blank, and no longer; a settings file it
  # cannot read is said in its log.
  local entry=$top/config/autostart/qvlbridge.desktop desk="$top/my desk"
  mkdir "$desk" && cp "$top/small/qvlbridge" "$desk/"
  XDG_CONFIG_HOME=$top/config "$desk/qvlbridge" -INSTALL && grep -qxF "Exec=\"$desk/qvlbridge\"" "$entry" ||
    fail "no autostart entry: $(cat "$entry")"
  XDG_CONFIG_HOME=$top/config "$desk/qvlbridge" -UNINSTALL && [ ! -e "$entry" ] || fail "the entry stays"
  # A full disk under the runs: error.txt cannot be written, and the program's own words reach
  # the page from its standard error.
  if mount -t tmpfs -o size=256k tmpfs "$top/small" 2>/dev/null; then
    mkdir -p "$top/fullstate/qvlbridge" && ln -s "$top/small" "$top/fullstate/qvlbridge/runs"
    start_bridge full '' QVLSIM_ARRIVE=1polls XDG_STATE_HOME="$top/fullstate"
    head -c 1M /dev/zero >"$top/small/filler" 2>/dev/null
    capture '{"mode": "enroll"}'
    [[ "$(field message)" == *'Cannot write'* ]] || fail "a full disk: $(head -c 400 "$top/answer")"
    umount "$top/small"
  fi
  # Asked how to use it, or given a switch it does not know: it says so and serves nothing.
  XDG_STATE_HOME=$top/asked "$desk/qvlbridge" -h >"$top/usage" || fail "-h ended with $?"
  grep -q '^Usage: qvlbridge' "$top/usage" || fail "-h printed $(cat "$top/usage")"
  ! XDG_STATE_HOME=$top/asked "$desk/qvlbridge" -PROT:1 2>/dev/null || fail "-PROT:1 was taken"
  ! grep -q listening "$top/asked/qvlbridge/qvlbridge.log" 2>/dev/null || fail "it served on a mistake"
  # On a fresh account too, where the bridge's folder does not exist yet.
  echo '{"port": "high"}' >"$top/small/qvlbridge.json"
  ! XDG_STATE_HOME=$top/fresh "$top/small/qvlbridge" 2>/dev/null || fail "started with a wrong qvlbridge.json"
  grep -q 'cannot start: .*qvlbridge.json' "$top/fresh/qvlbridge/qvlbridge.log" || fail "the log does not say why"
}

case_bridge_wine() {
  # The Windows bridge answers, and one capture of each mode runs through its child.
  local template database
  start_bridge wine '' QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_FINGER=7
  touch "$top/finger"
  curl -sf "$bridge/v1/status" | grep -q '"library_found":true' || fail "status: $(curl -s "$bridge/v1/status")"
  capture '{"mode": "enroll", "token": "w"}'
  expect_ending answered 0
  template=$(python3 -c 'import base64, json, sys; print(base64.b64encode(base64.b64decode(json.load(open(sys.argv[1]))["template"])[:256]).decode())' "$top/answer")
  database=$( (head -c 512 /dev/urandom; echo "$template" | base64 -d) | base64 -w0)
  capture "{\"mode\": \"verify\", \"template\": \"$template\"}"
  expect_ending answered 0
  [ "$(field answer)" = '"1"' ] || fail "verify answered $(field answer)"
  for mode in identify verimatch; do
    capture "{\"mode\": \"$mode\", \"database\": \"$database\"}"
    expect_ending answered 0
    [ "$(field answer)" = '"2"' ] || fail "$mode answered $(field answer)"
  done
  rm "$top/finger"
  # A bridge killed mid-capture takes its run with it (its Job object closes).
  local run
  (capture '{"mode": "enroll", "timeout": 60}') &
  for _ in $(seq 100); do run=$(started_by wine 'qvlcapture\.exe') && [ -n "$run" ] && break || sleep 0.1; done
  [ -n "$run" ] || fail "no capture runs"
  kill -9 $(started_by wine 'qvlbridge\.exe')
  for _ in $(seq 100); do [ -n "$(started_by wine 'qvlcapture\.exe')" ] && sleep 0.1 || break; done
  [ -z "$(started_by wine 'qvlcapture\.exe')" ] || fail "the capture outlived its bridge"
  # Cancel closes the run's window, the program's own way out (3); a run that cannot close it,
  # hung in the library, is ended by its Job object 2 s later.
  local asked
  for hang in '' image; do
    start_bridge "cancel$hang" '' QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_HANG=$hang
    (capture '{"mode": "enroll", "timeout": 60}' && echo "$code" >"$top/cancel.code") &
    asked=$!
    for _ in $(seq 100); do [ -n "$(started_by "cancel$hang" 'qvlcapture\.exe')" ] && break || sleep 0.1; done
    sleep 1  # the run is waiting for a finger, or hung in the library
    curl -s -H "Origin: $page" -X POST "$bridge/v1/cancel" | grep -q '"cancelled":true' || fail "cancel not taken"
    wait "$asked"
    code=$(cat "$top/cancel.code")
    expect_ending window_closed "$([ -z "$hang" ] && echo 3 || echo null)"
    kill "$bridge_pid"
  done
  # As the extension's native-messaging host: one framed request of each mode.
  touch "$top/finger"
  local mode body answer
  for mode in enroll verify identify verimatch; do
    case $mode in
      enroll) body='{"mode": "enroll"}' ;;
      verify) body="{\"mode\": \"verify\", \"template\": \"$template\"}" ;;
      *) body="{\"mode\": \"$mode\", \"database\": \"$database\"}" ;;
    esac
    answer=$(XDG_STATE_HOME="$top/state" QVLCAPTURE_SCANNER_LOCK=${top##*/}-wine QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7 \
      python3 "$root/e2e/browser/ask_host.py" "$page" "$body" - "$WINE" "$top/wine/qvlbridge.exe" 2>/dev/null)
    [[ $answer =~ \"ending\":\ \"answered\" ]] || fail "the host answered $mode with ${answer:0:300}"
  done
  # Started at this user's logon and registered with the five browsers, and no longer; for every
  # user, in both registry views of HKLM, with no start at anyone's logon.
  local keys=() browser scope key run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run /v qvlbridge'
  for scope in '' :ALL; do
    keys=()
    for browser in 'Google\Chrome' 'Microsoft\Edge' 'Yandex\YandexBrowser' 'Chromium' 'Mozilla'; do
      for view in $([ -n "$scope" ] && echo /reg:32 /reg:64 || echo /ve); do
        keys+=("$([ -n "$scope" ] && echo HKLM || echo HKCU)\\Software\\$browser\\NativeMessagingHosts\\ru.qvlcapture.bridge /ve ${view#/ve}")
      done
    done
    "$WINE" "$top/wine/qvlbridge.exe" -INSTALL$scope </dev/null >/dev/null 2>&1
    for key in "${keys[@]}" "$([ -z "$scope" ] && echo "$run")"; do
      [ -z "$key" ] || "$WINE" reg query $key </dev/null 2>/dev/null | grep -qi 'qvlbridge\|qvlcapture.bridge' || fail "no $key after -INSTALL$scope"
    done
    [ -z "$scope" ] || ! "$WINE" reg query $run </dev/null 2>/dev/null | grep -qi qvlbridge || fail "-INSTALL:ALL starts it at logon"
    "$WINE" "$top/wine/qvlbridge.exe" -UNINSTALL$scope </dev/null >/dev/null 2>&1
    for key in "${keys[@]}" "$run"; do
      ! "$WINE" reg query $key </dev/null 2>/dev/null | grep -qi 'qvlbridge\|qvlcapture.bridge' || fail "$key stays after -UNINSTALL$scope"
    done
  done
  # No picture (7): no error.txt either, and the run's standard error, its one inherited handle,
  # says why.
  start_bridge winebare '' QVLSIM_ARRIVE=1polls QVLSIM_FAIL=bmp
  capture '{"mode": "enroll"}'
  expect_ending picture_not_replaced 7
  [[ "$(field message)" == *scan.bmp* ]] || fail "exit 7's message: $(field message)"
}
