# Sourced by the other scripts here: the Wine prefix and X display of one build's tests.
# QVL_WINE_STATE is the folder that holds them (the build's wine/ folder unless set).
QVL_WINE_STATE=${QVL_WINE_STATE:-$PWD/wine}
export WINEPREFIX=$QVL_WINE_STATE/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts
WINE=/usr/lib/wine/wine64                   # /usr/bin/wine may pick the 32-bit loader
WINESERVER=/usr/lib/wine/wineserver64
if [ -s "$QVL_WINE_STATE/display" ]; then
  export DISPLAY=:$(cat "$QVL_WINE_STATE/display")
fi
