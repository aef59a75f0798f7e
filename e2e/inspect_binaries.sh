#!/usr/bin/env bash
# Checks what the Windows binaries promise without running them: the program imports only
# system DLLs (no MinGW runtime to ship) and carries its version resource and manifest, and the
# stand-in library exports the six entry points under their plain names, as GetProcAddress
# looks them up.
set -u
objdump=$1 program=$2 library=$3
status=0
imports=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
for dll in $imports; do
  case "${dll^^}" in
    KERNEL32.DLL|USER32.DLL|GDI32.DLL|MSVCRT.DLL|ADVAPI32.DLL|SHELL32.DLL) ;;
    *) echo "FAIL: $program imports $dll"; status=1 ;;
  esac
done
exports=$("$objdump" -p "$library" | sed -n 's/^\s*\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_@]*\)$/\1/p' | sort | tr '\n' ' ')
expected="QvlGetImage QvlMatch QvlMatchN QvlOpenDevice QvlProcess QvlSaveClrBMPFile "
if [ "$exports" != "$expected" ]; then
  echo "FAIL: $library exports '$exports', expected '$expected'"
  status=1
fi
# The version resource (UTF-16 strings) and the manifest that declares DPI awareness.
strings -el "$program" | grep -qx ProductVersion || { echo "FAIL: no version resource"; status=1; }
strings "$program" | grep -q '<dpiAware' || { echo "FAIL: no DPI-aware manifest"; status=1; }
echo "imports: $imports"
echo "exports: $exports"
exit $status
