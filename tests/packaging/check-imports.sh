#!/usr/bin/env bash
# Checks that each deliverable is a 32-bit Windows file that needs nothing but
# system DLLs: no C or C++ runtime, no thread library beside it.
#   check-imports.sh OBJDUMP gui|console|dll FILE...
set -euo pipefail
objdump=$1
kind=$2
shift 2

allowed='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|ole32|oleaut32|ws2_32|wsock32|wininet|version|winmm|msvcrt|shlwapi|msimg32|uxtheme)\.dll$'
status=0
for f in "$@"; do
  if [ ! -f "$f" ]; then echo "FAIL $f: missing"; status=1; continue; fi
  info=$("$objdump" -p "$f")
  if ! grep -q 'Magic.*010b' <<<"$info"; then echo "FAIL $f: not a 32-bit (PE32) image"; status=1; fi
  if [ "$kind" = gui ] && ! grep -q 'Subsystem.*Windows GUI' <<<"$info"; then
    echo "FAIL $f: not a GUI program"; status=1
  fi
  if [ "$kind" = console ] && ! grep -q 'Subsystem.*Windows CUI' <<<"$info"; then
    echo "FAIL $f: not a console program"; status=1
  fi
  while read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    if ! grep -Eq "$allowed" <<<"$lower"; then
      echo "FAIL $f: imports $dll, which is not a system DLL"; status=1
    fi
  done < <(grep 'DLL Name:' <<<"$info" | awk '{print $3}')
  echo "checked $f: $(grep 'DLL Name:' <<<"$info" | awk '{print $3}' | tr '\n' ' ')"
done
exit $status
