# Sourced by the other scripts here: the Wine prefix, loader and X display of one set of Windows
# tests, kept in the folder QVL_WINE_STATE (start.sh fills it).
QVL_WINE_STATE=${QVL_WINE_STATE:-$PWD/wine}
export WINEPREFIX=$QVL_WINE_STATE/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts
# The users run Russian Windows: ANSI code page 1251, OEM 866. Wine takes them from each
# process's locale, so the tests set it themselves, whatever the caller's environment holds.
export LC_ALL=${QVL_WINE_LOCALE:-ru_RU.UTF-8}
WINE=$(cat "$QVL_WINE_STATE/loader" 2>/dev/null || echo /usr/lib/wine/wine64)
WINESERVER=/usr/lib/wine/wineserver64  # serves 32-bit and 64-bit prefixes alike
[ -s "$QVL_WINE_STATE/arch" ] && export WINEARCH=$(cat "$QVL_WINE_STATE/arch")
[ -s "$QVL_WINE_STATE/display" ] && export DISPLAY=:$(cat "$QVL_WINE_STATE/display")

# Ends a test as skipped (ctest's SKIP_RETURN_CODE) where this machine cannot run the loader.
skip_unless_wine_runs() {
  if [ -s "$QVL_WINE_STATE/unusable" ]; then
    echo "SKIPPED: $(cat "$QVL_WINE_STATE/unusable")"
    exit 77
  fi
}
