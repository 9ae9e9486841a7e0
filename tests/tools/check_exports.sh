#!/bin/sh
# Checks the dynamic symbol tables of the two extensions: percept_ext
# exports `version` only, lenscorr_ext nothing; neither needs libOpenCL.
set -eu
lib="$1"
fail=0
exports=$(nm -D --defined-only "$lib/libpercept_ext.so" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$exports" != "version " ]; then
  echo "libpercept_ext.so exports: $exports (expected: version)"; fail=1
fi
exports=$(nm -D --defined-only "$lib/liblenscorr_ext.so" | awk '{print $3}' | tr '\n' ' ')
if [ -n "$exports" ]; then
  echo "liblenscorr_ext.so exports: $exports (expected nothing)"; fail=1
fi
for so in libpercept_ext.so liblenscorr_ext.so; do
  if readelf -d "$lib/$so" | grep NEEDED | grep -q OpenCL; then
    echo "$so links an OpenCL library"; fail=1
  fi
done
exit $fail
