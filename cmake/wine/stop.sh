#!/usr/bin/env bash
# Ends what start.sh started. Safe to call when nothing runs.
export QVL_WINE_STATE=$1
. "$(dirname "$0")/env.sh"
[ -d "$WINEPREFIX" ] && "$WINESERVER" -k </dev/null >/dev/null 2>&1
if [ -s "$QVL_WINE_STATE/xvfb.pid" ]; then
  kill "$(cat "$QVL_WINE_STATE/xvfb.pid")" 2>/dev/null
  rm -f "$QVL_WINE_STATE/xvfb.pid"
fi
exit 0
