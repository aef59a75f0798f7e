#!/usr/bin/env bash
# Starts an Xvfb display and one persistent Wine server with a ready prefix, for all the Windows
# tests that use it: one Wine start per test would cost seconds each.
# Usage: start.sh STATE_FOLDER LOADER win64|win32   (win64: a 64-bit Windows 10; win32: a 32-bit
#   Windows 7, the oldest system the program supports)
set -eu
export QVL_WINE_STATE=$1
here=$(dirname "$0")
"$here/stop.sh" "$QVL_WINE_STATE"
mkdir -p "$QVL_WINE_STATE"
rm -f "$QVL_WINE_STATE/display" "$QVL_WINE_STATE/unusable"
echo "$2" >"$QVL_WINE_STATE/loader"
echo "$3" >"$QVL_WINE_STATE/arch"
# A kernel without 32-bit support refuses the 32-bit loader ("Exec format error"): its tests are
# then reported as skipped, with the reason.
if ! reason=$("$2" --version 2>&1); then
  case $reason in
    *"Exec format error"*) reason="this machine's kernel cannot run 32-bit programs ($2: Exec format error)" ;;
    *) reason="$2 cannot run here: $reason" ;;
  esac
  echo "$reason" | head -1 >"$QVL_WINE_STATE/unusable"
  cat "$QVL_WINE_STATE/unusable"
  exit 0
fi
if ! locale -a | grep -qix ru_RU.utf8; then
  echo "The Windows tests run in the Russian locale: localedef -i ru_RU -f UTF-8 ru_RU.UTF-8" >&2
  exit 1
fi
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$QVL_WINE_STATE/display" \
  </dev/null >/dev/null 2>&1 &
echo $! >"$QVL_WINE_STATE/xvfb.pid"
for _ in $(seq 100); do
  [ -s "$QVL_WINE_STATE/display" ] && break
  sleep 0.1
done
[ -s "$QVL_WINE_STATE/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
. "$here/env.sh"
# The display must be set before the prefix's server first starts, or no window ever shows.
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" wineboot -i </dev/null >/dev/null 2>&1
"$WINE" winecfg -v "$([ "$3" = win32 ] && echo win7 || echo win10)" </dev/null >/dev/null 2>&1
# The window asks for Arial Narrow; Liberation Sans Narrow has its metrics and Cyrillic glyphs.
"$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Arial Narrow' /t REG_SZ \
  /d 'Liberation Sans Narrow' /f </dev/null >/dev/null 2>&1
# No window manager runs on the test display, and Wine would wait two seconds for one whenever a
# window it manages goes away: every run would end two seconds late.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
# Wine's virtual desktop draws title bars; their buttons need the Marlett font.
[ -f /usr/share/wine/fonts/marlett.ttf ] &&
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
echo "Wine ready: $WINE, $3 prefix $WINEPREFIX, display $DISPLAY, locale $LC_ALL"
