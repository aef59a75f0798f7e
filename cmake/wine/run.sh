#!/usr/bin/env bash
# Runs a Windows program inside the test prefix and display: the emulator of the win64 build.
. "$(dirname "$0")/env.sh"
exec "$WINE" "$@"
