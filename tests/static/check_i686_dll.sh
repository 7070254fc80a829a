#!/usr/bin/env bash
# Static checks of the shipped 32-bit module, which this machine cannot run: architecture,
# the export table name by name, imports from system DLLs only, and the resources.
set -u
export LC_ALL=C  # objdump is translated in other locales
dll=${1:?usage: check_i686_dll.sh Dropline.dll}
# objdump translates its headings under a Japanese locale (the tests run under one).
dump=$(LC_ALL=C i686-w64-mingw32-objdump -p "$dll") || { echo "objdump failed"; exit 1; }
passes=0 failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   $1"; passes=$((passes + 1)); else echo "FAIL $1"; failures=$((failures + 1)); fi
}

check "PE machine is i386" grep -q 'file format pei-i386' <<<"$dump"

expected="OVC_OnStart OVC_OnExit OVC_OnMenuInit OVC_OnOpenFolder OVC_OnOpenMail OVC_OnEveryMinute
OVC_OnOpenCompose OVC_OnOutgoing OVC_OnKeyDispatch OVC_OnRetrieve OVC_OnSend OVC_OnFinishRetrieve
OVC_OnPlugInSetup OVC_OnPlugInInfo OVC_OnDragDrop OVC_OnBeforeFilter2"
# Name pointer rows read "[ index] name"; with ordinal base 1 the ordinal is index + 1.
actual=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next}
              on && /^\t\[/ {gsub(/[][]/, " "); printf "%d %s\n", $1 + 1, $2; next}
              on {on=0}' <<<"$dump" | sort -n | awk '{print $2}' | tr '\n' ' ')
check "ordinal base is 1" grep -q 'Ordinal Base[[:space:]]*1$' <<<"$dump"
check "exactly 16 addresses in the export table" grep -q 'Export Address Table[[:space:]]*00000010' <<<"$dump"
check "exports are the 16 plain names at ordinals 1 to 16" test "$(echo $expected)" = "$(echo $actual)"
no_decorated_names() { ! grep -q 'OVC_[A-Za-z0-9]*@' <<<"$dump"; }
check "no decorated export names" no_decorated_names

allowed=" ADVAPI32.dll COMCTL32.DLL COMCTL32.dll GDI32.dll gdiplus.dll KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll SHELL32.dll SHLWAPI.dll USER32.dll "
imports_ok() {
  local name ok=0
  for name in $(awk '/DLL Name:/ {print $3}' <<<"$dump"); do
    case "$allowed" in *" $name "*) ;; *) echo "     not a system DLL: $name"; ok=1 ;; esac
  done
  return $ok
}
check "imports only Windows system DLLs (runtime linked statically)" imports_ok

# Resource directory rows: a type entry, then its names, then their languages.
resources=$(awk '/Resource Directory section/ {on=1} on' <<<"$dump")
has_resource() {  # has_resource TYPE ID
  awk -v type="$(printf '0x%06x,' "$1")" -v id="$(printf '0x%06x,' "$2")" '
    /^[0-9a-f]+   Entry: ID:/ {cur = $4}
    /^[0-9a-f]+     Entry: ID:/ && cur == type && $4 == id {found = 1}
    END {exit !found}' <<<"$resources"
}
for id in 102 105 106 107; do check "dialog template $id" has_resource 5 "$id"; done
check "version resource" has_resource 16 1
check "manifest resource (type 24, id 2)" has_resource 24 2
check "resources in Japanese (0x411)" grep -q 'Entry: ID: 0x000411' <<<"$resources"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
