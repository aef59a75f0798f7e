#!/usr/bin/env bash
# Checks what the Windows program promises without running it: it imports only system DLLs (no
# MinGW runtime to ship), and carries its manifest and a version resource with the project's
# version and licence. (The stand-in's exports meet the program's GetProcAddress in every case.)
# Usage: inspect_binaries.sh OBJDUMP PROGRAM VERSION
set -u
status=0
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
for dll in $imports; do
  case "${dll^^}" in
    KERNEL32.DLL|USER32.DLL|GDI32.DLL|MSVCRT.DLL|ADVAPI32.DLL|SHELL32.DLL|NTDLL.DLL) ;;
    *) echo "FAIL: $2 imports $dll"; status=1 ;;
  esac
done
strings -el "$2" | grep -qx "$3" || { echo "FAIL: no version $3 in the version resource"; status=1; }
strings -el "$2" | grep -q 'Apache License 2.0' || { echo "FAIL: no licence line"; status=1; }
strings "$2" | grep -q '<dpiAware' || { echo "FAIL: no DPI-aware manifest"; status=1; }
exit $status
