#!/usr/bin/env bash
# Runs a Windows program inside a fixture's prefix and display: the emulator of the Windows builds.
. "$(dirname "$0")/env.sh"
skip_unless_wine_runs
exec "$WINE" "$@"
