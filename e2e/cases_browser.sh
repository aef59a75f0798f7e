# The sample portal in real browsers, as the person at the desk uses it: Chromium over the HTTP
# service and through the package's extension, Firefox ESR through the same extension. Helpers
# from cases_bridge.sh.

# Serves the sample portal and its driver from two test origins, of which the bridge is to allow
# the first ($page, on the host $portal_host: 127.0.0.1 unless set); the stand-in's calls are
# logged in $top/scanner.log.
serve_portal() {
  command -v chromium >/dev/null || { echo "SKIPPED: no chromium (apt-get install chromium)"; exit 77; }
  local origin
  mkdir "$top/site"
  cp "$root/docs/samples/portal.html" "$root/docs/samples/qvlcapture.js" "$root/e2e/browser/driver.html" \
    "$root/e2e/browser/intruder.html" "$top/site/"
  for origin in allowed other; do
    python3 "$root/e2e/browser/serve.py" "$top/$origin.port" "$top/$origin.report" "$top/finger" "$top/site" \
      "$top/scanner.log" &
    for _ in $(seq 50); do [ -s "$top/$origin.port" ] && break || sleep 0.1; done
  done
  page=http://${portal_host:=127.0.0.1}:$(cat "$top/allowed.port")
}

# The driver in Chromium (with the flags $@) from each origin, the bridge's address $bridge;
# what the portal showed is then in $top/allowed.report and $top/other.report.
drive_portal() {
  local origin browser
  for origin in allowed other; do
    chromium --headless=new --no-sandbox --disable-gpu --no-first-run --remote-debugging-port=0 "$@" \
      --host-resolver-rules="MAP $portal_host 127.0.0.1" \
      "http://$([ $origin = allowed ] && echo "$portal_host" || echo 127.0.0.1):$(cat "$top/$origin.port")/driver.html?bridge=$bridge$(
      [ $origin = other ] && echo '&only=enroll' || echo "&other=$(cat "$top/other.port")")" </dev/null >/dev/null 2>&1 &
    browser=$!
    for _ in $(seq 900); do [ -s "$top/$origin.report" ] && break || sleep 0.1; done
    kill "$browser" 2>/dev/null
    wait "$browser" 2>/dev/null
  done
}

# What the portal shows of every step through the channel $1, and from another origin.
expect_portal() {
  local report
  report=$(cat "$top/allowed.report")
  [ "$report" = "channel:$1 intruder:ignored first:Сначала зарегистрируйте палец / Enrol first enroll:answered:-1 picture:280 verify:answered:1 verify:answered:0 identify:answered:3 enroll:timed_out: second:busy cancel:window_closed:Снятие отпечатка отменено closed:freed navigated:freed" ] ||
    fail "the portal showed: $report"
  [ "$(cat "$top/other.report")" = "channel:undefined enroll:origin_not_allowed: text:Этого сайта нет в списке allowed_origins службы qvlbridge." ] ||
    fail "another origin read: $(cat "$top/other.report")"
  expect_no_runs
}

case_bridge_browser() {
  # The sample portal in Chromium, from a test origin the bridge allows: enrolment, verification
  # (1, and 0 against another template), identification, a timeout, Cancel and a page closed
  # mid-capture, as the page shows them. The same page from an origin the bridge does not allow
  # learns that, and nothing else.
  serve_portal
  start_bridge portal '' QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_FINGER=7 QVLSIM_LOG="$top/scanner.log"
  drive_portal --user-data-dir="$top/chrome"
  expect_portal http
}

# The program folder $top/host with qvlbridge, which allows the portal, as the browsers' host: a
# test HOME and state, finger 7 on file:$top/finger, the stand-in's calls in $top/scanner.log.
install_host() {
  install "$top/host"
  cp "$build/qvlbridge" "$top/host/"
  printf '{"allowed_origins": ["%s"]}' "$page" >"$top/host/qvlbridge.json"
  export XDG_STATE_HOME=$top/state QVLCAPTURE_SCANNER_LOCK=${top##*/}-host QVLSIM_FINGER=7 \
    QVLSIM_ARRIVE=file:"$top/finger" QVLSIM_LOG=$top/scanner.log HOME=$top/home
}

case_bridge_extension() {
  # The same portal through the package's extension, with qvlbridge as the browser's
  # native-messaging host, registered by -INSTALL, and no HTTP service at all: the page, a plain
  # http intranet portal, never reaches for the port. First the host's own protocol, as a browser
  # speaks it.
  portal_host=hr.intranet.test
  serve_portal
  install_host
  local answer started
  touch "$top/finger"
  for asked in "$page|{\"mode\": \"enroll\", \"token\": \"Ёж\"}|\"ending\": \"answered\".*\"token\": \"Ёж\"" \
      'https://evil.example|{"mode": "enroll"}|^\{"body": \{"error": "origin_not_allowed"\}, "status": 403\}$' \
      "$page|raw:00000040|\"status\": 413" "$page|raw:050000007b6e6f7065|\"status\": 400"; do
    IFS='|' read -r origin request want <<<"$asked"
    answer=$(python3 "$root/e2e/browser/ask_host.py" "$origin" "$request" - "$top/host/qvlbridge")
    [[ $answer =~ $want ]] || fail "the host answered $request with $answer"
  done
  # The page goes mid-capture: the host's input closes, the run ends as a closed window, long
  # before its own 60 s (how soon is the benchmarks' business, not a loaded machine's).
  rm "$top/finger"
  started=$(date +%s)
  answer=$(python3 "$root/e2e/browser/ask_host.py" "$page" '{"mode": "enroll", "timeout": 60}' 1 "$top/host/qvlbridge")
  [[ $answer == *'"ending": "window_closed"'* ]] && [ $(($(date +%s) - started)) -lt 30 ] ||
    fail "a closed input: $answer after $(($(date +%s) - started)) s"
  "$top/host/qvlbridge" -INSTALL || fail "-INSTALL failed"
  for browser in google-chrome chromium microsoft-edge yandex-browser; do
    grep -q "\"path\": \"$top/host/qvlbridge\"" "$HOME/.config/$browser/NativeMessagingHosts/ru.qvlcapture.bridge.json" ||
      fail "no host manifest for $browser"
  done
  bridge=http://127.0.0.1:1  # nothing listens: a page that reached for the port would fail
  drive_portal --user-data-dir="$HOME/.config/chromium" --load-extension="$build/extension"
  expect_portal extension
  "$top/host/qvlbridge" -UNINSTALL || fail "-UNINSTALL failed"
  [ -z "$(find "$HOME"/.config/*/NativeMessagingHosts -type f 2>/dev/null)" ] || fail "-UNINSTALL left host manifests"
}

case_bridge_firefox() {
  # The same portal in headless Firefox ESR through the same extension, installed for the session
  # over WebDriver BiDi, after -INSTALL under a test HOME and with no HTTP service running; a tab
  # closed mid-capture ends its run as a closed window; a page of another origin is refused.
  command -v firefox-esr >/dev/null && /usr/bin/python3 -c 'import websockets' 2>/dev/null ||
    { echo "SKIPPED: no firefox-esr or python3-websockets (apt-get install firefox-esr python3-websockets)"; exit 77; }
  serve_portal
  install_host
  "$top/host/qvlbridge" -INSTALL || fail "-INSTALL failed"
  grep -q '"allowed_extensions"' "$HOME/.mozilla/native-messaging-hosts/ru.qvlcapture.bridge.json" ||
    fail "no host manifest for Firefox"
  bridge=http://127.0.0.1:1  # nothing listens: a page that reached for the port would fail
  local seconds driver
  driver="driver.html?bridge=$bridge"
  mkdir "$top/profile"
  seconds=$(/usr/bin/python3 "$root/e2e/browser/firefox.py" "$top/profile" "$build/extension" \
    "$top/scanner.log" "$top/host/qvlcapture" \
    "$page/$driver&other=$(cat "$top/other.port")|$top/allowed.report" \
    "http://127.0.0.1:$(cat "$top/other.port")/$driver&only=enroll|$top/other.report") ||
    fail "Firefox: $seconds"
  expect_portal extension
  # Within a second here; the margin is for a loaded machine, not a claim.
  awk -v s="$seconds" 'BEGIN { exit !(s < 10) }' || fail "a closed tab's run ended after $seconds s"
  echo "a closed tab's run ended after $seconds s"
  "$top/host/qvlbridge" -UNINSTALL || fail "-UNINSTALL failed"
  [ ! -e "$HOME/.mozilla/native-messaging-hosts/ru.qvlcapture.bridge.json" ] || fail "-UNINSTALL left Firefox's manifest"
  # An administrator's install for every user, under a test root: each browser's system folder,
  # readable by all and writable by root alone, and no HTTP service at anyone's logon. Without
  # root it says why.
  local system=(etc/opt/chrome etc/chromium etc/opt/edge etc/opt/yandex/browser usr/lib/mozilla) at
  chmod 711 "$top"
  ! runuser -u nobody -- env QVLBRIDGE_ROOT="$top/root" "$top/host/qvlbridge" -INSTALL:ALL 2>"$top/refused" &&
    grep -q 'needs root' "$top/refused" || fail "-INSTALL:ALL without root: $(cat "$top/refused")"
  export QVLBRIDGE_ROOT=$top/root XDG_CONFIG_HOME=$top/config
  "$top/host/qvlbridge" -INSTALL:ALL || fail "-INSTALL:ALL failed"
  for at in "${system[@]}"; do
    at=$top/root/$at/native-messaging-hosts/ru.qvlcapture.bridge.json
    grep -q "\"path\": \"$top/host/qvlbridge\"" "$at" && [ "$(stat -c %a "$at")" = 644 ] ||
      fail "-INSTALL:ALL wrote $at as $(stat -c %a "$at" 2>&1)"
  done
  grep -q '"allowed_extensions"' "$top/root/usr/lib/mozilla/native-messaging-hosts/ru.qvlcapture.bridge.json" ||
    fail "Firefox's system manifest lists no extensions"
  [ ! -e "$top/config/autostart/qvlbridge.desktop" ] || fail "-INSTALL:ALL starts a service at logon"
  "$top/host/qvlbridge" -UNINSTALL:ALL || fail "-UNINSTALL:ALL failed"
  [ -z "$(find "$top/root" -type f)" ] || fail "-UNINSTALL:ALL left $(find "$top/root" -type f)"
}
