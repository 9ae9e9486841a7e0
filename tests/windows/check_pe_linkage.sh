#!/bin/sh
# Checks the Windows binaries' import and export tables with objdump:
#   - both extensions import oxrin_rtc_sdk.dll by ordinals 6 and 9 only,
#     by no name, and neither imports OpenCL.dll (it is loaded at run time);
#   - percept_ext.dll exports exactly "version", lenscorr_ext.dll nothing;
#   - oxrin_rtc_sdk.dll exports ordinals 6 and 9 without names;
#   - no binary needs a MinGW run-time DLL (libstdc++, libgcc, winpthread).
# usage: check_pe_linkage.sh OBJDUMP BINDIR
set -u
objdump=$1
bin=$2
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# Lines "ORDINAL" or "name NAME" for each import from one DLL.
imports_from() {
  "$objdump" -p "$1" | awk -v dll="$2" '
    /^\tDLL Name: / { cur = tolower($3); next }
    /^$/ { cur = "" }
    cur == tolower(dll) && $1 ~ /^[0-9a-f]+$/ && NF >= 3 {
      if ($1 ~ /^80000000/) { print $2 + 0 } else { print "name " $3 }
    }'
}
imported_dlls() {
  "$objdump" -p "$1" | awk '/^\tDLL Name: / { print tolower($3) }' | sort
}
# Named exports, one per line.
named_exports() {
  "$objdump" -p "$1" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^$/ { on = 0 }
    on && /^\t\[/ { sub(/^\t\[ *[0-9]+\] /, ""); print }'
}
# Ordinals of the export address table.
exported_ordinals() {
  "$objdump" -p "$1" | awk '/\+base\[/ { s = $0; sub(/.*\+base\[ */, "", s); sub(/\].*/, "", s); print s + 0 }'
}

for ext in percept_ext lenscorr_ext; do
  dll=$bin/$ext.dll
  [ -f "$dll" ] || { fail "$dll missing"; continue; }
  got=$(imports_from "$dll" oxrin_rtc_sdk.dll | sort -n | tr '\n' ' ')
  [ "$got" = "6 9 " ] || fail "$ext imports from oxrin_rtc_sdk.dll: '$got' (want ordinals 6 and 9 only)"
  if imported_dlls "$dll" | grep -qx "opencl.dll"; then fail "$ext imports OpenCL.dll"; fi
done

got=$(named_exports "$bin/percept_ext.dll" | tr '\n' ' ')
[ "$got" = "version " ] || fail "percept_ext.dll exports '$got' (want exactly version)"
got=$(named_exports "$bin/lenscorr_ext.dll" | tr '\n' ' ')
[ -z "$got" ] || fail "lenscorr_ext.dll exports '$got' (want nothing)"

sdk=$bin/oxrin_rtc_sdk.dll
for ord in 6 9; do
  exported_ordinals "$sdk" | grep -qx "$ord" || fail "oxrin_rtc_sdk.dll lacks ordinal $ord"
done
if named_exports "$sdk" | grep -q "oxrin_rtc_sdk_ordinal"; then
  fail "oxrin_rtc_sdk.dll exports an entry point by name"
fi

for f in "$bin"/*.dll "$bin"/*.exe; do
  [ -f "$f" ] || continue
  bad=$(imported_dlls "$f" | grep -E '^(libstdc\+\+|libgcc|libwinpthread)' | tr '\n' ' ')
  [ -z "$bad" ] || fail "$(basename "$f") needs run-time DLLs: $bad"
done

[ $failed -eq 0 ] && echo "PE linkage as expected"
exit $failed
