#!/bin/sh
# Windows x64 build and its test suite under Wine, from a clean clone:
#   tools/wine_suite.sh [ctest arguments...]
# Installs the Debian packages that are missing (MinGW-w64, Wine, the
# header-only dependencies), fetches and unpacks Debian's cjson sources
# (with a private apt source list, so the system's list stays untouched),
# cross-builds the mingw64 preset and runs its tests under Wine.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

PACKAGES="cmake make dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64 googletest rapidjson-dev \
opencl-c-headers ocl-icd-libopencl1 pocl-opencl-icd"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "wine_suite: installing$missing"
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# cJSON has no MinGW package: compile the sources of Debian's own package,
# at the version installed for the POSIX build where there is one.
deps=$root/build/deps
if [ ! -f "$deps/cjson-src/cJSON.c" ]; then
  echo "wine_suite: fetching the cjson source package"
  mkdir -p "$deps/apt/lists/partial" "$deps/apt/cache/archives/partial" "$deps/apt/sources.list.d"
  # The machine's own package sources, as source-package entries.
  : >"$deps/apt/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^deb /deb-src /p' "$f" >>"$deps/apt/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$deps/apt/sources.list.d/$(basename "$f")"
  done
  apt_opts="-o Dir::Etc::SourceList=$deps/apt/sources.list -o Dir::Etc::SourceParts=$deps/apt/sources.list.d \
-o Dir::State::Lists=$deps/apt/lists -o Dir::Cache=$deps/apt/cache -o Debug::NoLocking=1"
  # shellcheck disable=SC2086
  apt-get $apt_opts update -qq
  version=$(dpkg-query -W -f='${Version}' libcjson-dev 2>/dev/null || true)
  rm -rf "$deps/cjson-src" "$deps/cjson-dl"
  mkdir -p "$deps/cjson-dl"
  # shellcheck disable=SC2086
  (cd "$deps/cjson-dl" && { [ -n "$version" ] && apt-get $apt_opts source --download-only "cjson=$version" -qq 2>/dev/null ||
    apt-get $apt_opts source --download-only cjson -qq; })
  dpkg-source -x --no-check "$deps"/cjson-dl/cjson_*.dsc "$deps/cjson-src" >/dev/null
fi

cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64
ctest --preset mingw64 "$@"
