# The web service against what else on the computer reaches 127.0.0.1: another account's
# program, a flood of idle or slow connections, huge and deep bodies; and a page or a bridge that
# goes mid-capture. Helpers from cases_bridge.sh.

# Runs Python $1 with the bridge's port as its first argument and the rest after it.
bridge_py() {
  local code=$1
  shift
  python3 -c "$code" "${bridge##*:}" "$@"
}

case_bridge_guard() {
  local answered started
  # A desktop's usual descriptor limit: a flood must cost the bridge no more than its slots.
  ulimit -Sn 1024
  # Left by 1.2, open to others: made private.
  mkdir -p -m 755 "$top/state/qvlbridge/runs" && chmod 755 "$top/state/qvlbridge"
  start_bridge guard ', "max_request_bytes": 16777216' QVLSIM_ARRIVE=file:"$top/finger"
  # Another account's program learns nothing and stops nothing, whatever source address and port
  # it chooses: the bridge's own port on another loopback address, the port of a connection the
  # owner holds open, an IPv4-mapped source; nor can it take [::1] at the bridge's port.
  if command -v runuser >/dev/null && [ "$(id -u)" = 0 ]; then
    local owner forged
    (capture '{"mode": "enroll", "timeout": 60}' && echo "$code" >"$top/owner.code") &
    owner=$!
    wait_for 'the capture to run' 'curl -s "$bridge/v1/status" | grep -q "\"capture_running\":true"'
    bridge_py 'import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
open(sys.argv[2], "w").write(str(s.getsockname()[1])); time.sleep(30)' "$top/owner.port" &
    wait_for "the owner's open connection" '[ -s "$top/owner.port" ]'
    forged=$(runuser -u nobody -- python3 "$root/e2e/other_account.py" forge "${bridge##*:}" "$page" "$(cat "$top/owner.port")")
    [ -z "$forged" ] || fail "another account was answered: $forged"
    curl -s "$bridge/v1/status" | grep -q '"capture_running":true' || fail "another account cancelled the capture"
    # This account's own clients over IPv6: ::1, and an IPv6 socket that reaches 127.0.0.1.
    curl -sf -g "http://[::1]:${bridge##*:}/v1/status" >/dev/null || fail "localhost over ::1 is not answered"
    bridge_py 'import socket, sys
s = socket.create_connection(("::ffff:127.0.0.1", int(sys.argv[1])))
s.sendall(b"GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n" % sys.argv[1].encode())
sys.exit(s.recv(100).split()[1] != b"200")' || fail "an IPv4-mapped client of this account is refused"
    grep -q 'refused: the program that connected runs as user 65534' "$top/state/qvlbridge/qvlbridge.log" ||
      fail "the log does not say why: $(tail -2 "$top/state/qvlbridge/qvlbridge.log")"
    # 64 connections held, half trickling a byte a second after a refusal, by another account and
    # by this one: every request of the owner is answered, and its capture runs on through it.
    for account in nobody root; do
      runuser -u "$account" -- python3 "$root/e2e/other_account.py" hold "${bridge##*:}" 8 &
      local holder=$!
      for _ in $(seq 12); do
        curl -sf --max-time 3 "$bridge/v1/status" >/dev/null || fail "the owner waited past 3 s under $account's 64"
        sleep 0.5
      done
      wait "$holder"
    done
    [ "$(grep -c 'refused: ' "$top/state/qvlbridge/qvlbridge.log")" = 1 ] || fail "one line per connection"
    touch "$top/finger"
    wait "$owner"
    [ "$(cat "$top/owner.code")" = 200 ] || fail "the owner's capture got $(cat "$top/owner.code")"
    rm "$top/finger"
  fi
  # 1500 idle connections held open: the status still answers.
  bridge_py '
import resource, socket, sys, time, urllib.request
resource.setrlimit(resource.RLIMIT_NOFILE, (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)
held = []
for _ in range(1500):
    s = socket.socket(); s.connect(("127.0.0.1", int(sys.argv[1]))); held.append(s)
started = time.time()
request = urllib.request.Request("http://127.0.0.1:%s/v1/status" % sys.argv[1])
print(urllib.request.urlopen(request, timeout=15).status, round(time.time() - started, 1))
' >"$top/flood" 2>&1 || fail "with 1500 idle connections: $(tail -1 "$top/flood")"
  # A byte of headers every 5 s is closed once 10 s have passed in all.
  bridge_py '
import socket, sys, time
s = socket.socket(); s.connect(("127.0.0.1", int(sys.argv[1])))
started = time.time()
try:
    for byte in b"GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 100:
        s.send(bytes([byte])); time.sleep(5)
        if time.time() - started > 30: sys.exit("still open after 30 s")
except OSError:
    pass
' || fail "a slow connection stays"
  # An early refusal reaches a client that goes on sending its body, not a reset; a request that
  # says Connection: close is the last one read, whatever follows it.
  bridge_py '
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"POST /v1/capture HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nOrigin: https://evil.example\r\n"
          b"Content-Type: application/json\r\nContent-Length: 4000000\r\n\r\n" % sys.argv[1].encode())
s.sendall(b" " * 4000000)
sys.exit(s.recv(100).split()[1] != b"403")' || fail "an early refusal was lost to a reset"
  answered=$(bridge_py '
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
status = b"GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n" % sys.argv[1].encode()
s.sendall(status + b"Connection: close\r\nContent-Length: 2\r\n\r\n{}" + status + b"\r\n")
s.settimeout(10)
answers = b""
while True:
    part = s.recv(65536)
    if not part: break
    answers += part
print(answers.count(b"HTTP/1.1 "))')
  [ "$answered" = 1 ] || fail "$answered answers after Connection: close"
  # Refused on their headers alone: an origin not allowed, or a body over the limit, is answered
  # before a byte of the body is sent; and deep nesting costs no memory.
  for refused in "Origin: https://evil.example|16000000|403" "Origin: $page|20000000|413"; do
    IFS='|' read -r header length want <<<"$refused"
    answered=$(bridge_py '
import socket, sys
s = socket.socket(); s.settimeout(5); s.connect(("127.0.0.1", int(sys.argv[1])))
s.sendall(("POST /v1/capture HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n%s\r\nContent-Type: application/json\r\n"
           "Content-Length: %s\r\n\r\n" % (sys.argv[1], sys.argv[2], sys.argv[3])).encode())
print(s.recv(100).split()[1].decode())
' "$header" "$length")
    [ "$answered" = "$want" ] || fail "$header, $length bytes announced: $answered, want $want"
  done
  python3 -c 'import sys; sys.stdout.write("{\"mode\":\"enroll\",\"x\":" + "[" * 8000000 + "]" * 8000000 + "}")' >"$top/deep.json"
  capture @"$top/deep.json"
  [ "$code" = 400 ] || fail "deep JSON got $code"
  local peak=$(awk '/VmHWM/ {print $2}' "/proc/$(pgrep -f "$top/guard/qvlbridge" | head -1)/status")
  [ "$peak" -lt 400000 ] || fail "the bridge's peak memory: $peak KiB"
  # A print lies in a folder and files of this account alone.
  touch "$top/finger"
  capture '{"mode": "enroll", "level": 0}'
  [ "$code" = 400 ] || fail "level 0 got $code"
  capture '{"mode": "enroll", "token": "Ёлкина-Щукина Анастасия Ξ"}'
  expect_ending answered 0
  [ "$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["token"])' "$top/answer")" = "Ёлкина-Щукина Анастасия Ξ" ] ||
    fail "the token came back as $(field token)"
  # The page's mode and level reach the run: with finger 7 at records 0 and 2, identification
  # names one of them and verimatch both; at level -13 every record matches.
  local database
  qvlsim database --fingers 3 --include 7@0 --include 7@2 --out modes.bin
  database=$(base64 -w0 "$folder/modes.bin")
  start_bridge modes ', "lowest_level": -13' QVLSIM_ARRIVE=1polls QVLSIM_FINGER=7
  for asked in 'identify|3|"[02]"' 'verimatch|3|"0,2"' 'verimatch|-13|"0,1,2"'; do
    IFS='|' read -r mode level want <<<"$asked"
    capture "{\"mode\": \"$mode\", \"level\": $level, \"database\": \"$database\"}"
    expect_ending answered 0
    [[ "$(field answer)" =~ ^$want$ ]] || fail "$mode at level $level answered $(field answer)"
  done
  for made in "$top/state/qvlbridge" "$top/state/qvlbridge/runs"; do
    [ "$(stat -c %a "$made")" = 700 ] || fail "$made is $(stat -c %a "$made")"
  done
  [ "$(stat -c %a "$top/state/qvlbridge/qvlbridge.log")" = 600 ] || fail "the log is readable by others"
  expect_no_runs
  # A program squatting on the port, on either loopback address, is named in the log for support
  # to find; the bridge serves on, and takes the address over once the squatter goes.
  local squatter port address state
  for address in 127.0.0.1 ::1; do
    port=$((20000 + RANDOM % 20000)) state=$top/squat-$address
    python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET)
s.bind((sys.argv[1], int(sys.argv[2]))); s.listen(); time.sleep(60)' "$address" "$port" &
    squatter=$!
    wait_for "the squatter on $address" "grep -q ':$(printf %04X "$port") 0*:0000 0A' /proc/net/tcp /proc/net/tcp6"
    XDG_STATE_HOME=$state "$top/guard/qvlbridge" -PORT:$port </dev/null >/dev/null 2>&1 &
    wait_for "the bridge's word on $address" "grep -q 'cannot listen' '$state/qvlbridge/qvlbridge.log' 2>/dev/null"
    grep -q "held by process $squatter (.*python3" "$state/qvlbridge/qvlbridge.log" ||
      fail "the squatter is not named: $(cat "$state/qvlbridge/qvlbridge.log")"
    kill "$squatter"
    [[ $address == *:* ]] && address="[$address]"
    wait_for "the bridge to take $address over" "curl -sf -g 'http://$address:$port/v1/status' >/dev/null" 15
  done
}

case_bridge_cancel() {
  # A page that goes, or asks to cancel, ends its capture as a closed window and frees the scanner
  # at once; a bridge killed mid-capture takes its run with it, and the next start removes what
  # it left.
  local before
  start_bridge cancel '' QVLSIM_ARRIVE=file:"$top/finger"
  (capture '{"mode": "enroll", "timeout": 60}' && echo "$code" >"$top/cancelled.code") &
  local asked=$!
  for _ in $(seq 50); do curl -s "$bridge/v1/status" | grep -q '"capture_running":true' && break || sleep 0.1; done
  sleep 0.5  # the run is waiting for a finger
  curl -s -H "Origin: $page" -X POST "$bridge/v1/cancel" | grep -q '"cancelled":true' || fail "cancel was not taken"
  wait "$asked"
  code=$(cat "$top/cancelled.code")
  expect_ending window_closed 3
  # The page's connection closes mid-capture: the next capture is not refused a second later.
  timeout 1.5 curl -s -o /dev/null -H "Origin: $page" -H 'Content-Type: application/json' \
    --data '{"mode": "enroll", "timeout": 60}' "$bridge/v1/capture"
  sleep 1
  touch "$top/finger"
  capture '{"mode": "enroll", "timeout": 5}'
  expect_ending answered 0
  rm "$top/finger"
  # kill -9 of the bridge mid-capture.
  (capture '{"mode": "enroll", "timeout": 60}') &
  for _ in $(seq 50); do pgrep -f "$top/cancel/qvlcapture" >/dev/null && break || sleep 0.1; done
  before=$(pgrep -f "$top/cancel/qvlcapture") || fail "no capture runs"
  kill -9 "$bridge_pid"
  for _ in $(seq 100); do kill -0 "$before" 2>/dev/null && sleep 0.1 || break; done
  ! kill -0 "$before" 2>/dev/null || fail "the capture outlived its bridge"
  [ -n "$(find "$top/state" -path '*/runs/*' 2>/dev/null)" ] || fail "nothing was left to remove"
  # Nor is a folder kept for a live process that only got the same number.
  local reused
  sleep 60 &
  reused=$!
  mkdir "$top/state/qvlbridge/runs/$reused-$(awk '{print $22}' "/proc/$reused/stat")-1-1"
  start_bridge cancel ''
  expect_no_runs
  kill "$reused"
  # A run hung in the library cannot close: it is ended kCloseSeconds (2 s) after the cancel, long
  # before its deadline (60 + 150 s).
  start_bridge cancelhung '' QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_HANG=image
  (capture '{"mode": "enroll", "timeout": 60}' && echo "$code" >"$top/hung.code") &
  asked=$!
  wait_for 'the hung run' '[ -n "$(started_by cancelhung qvlcapture)" ]'
  curl -s -H "Origin: $page" -X POST "$bridge/v1/cancel" | grep -q '"cancelled":true' || fail "cancel was not taken"
  wait_for 'the hung run to be ended' '[ -s "$top/hung.code" ]' 30
  code=$(cat "$top/hung.code")
  expect_ending window_closed null
}
