#!/bin/sh
# Installs the Debian packages the project needs (only those missing),
# then configures and builds the default preset.
set -eu
cd "$(dirname "$0")/.."

PACKAGES="cmake g++ clang make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
ocl-icd-opencl-dev opencl-headers pocl-opencl-icd clinfo \
rapidjson-dev libcjson-dev ffmpeg python3-numpy python3-pil python3-matplotlib \
libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools \
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly \
python3-onnx libonnx-testdata python3-torch \
libjxl-devtools x264"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi

cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
