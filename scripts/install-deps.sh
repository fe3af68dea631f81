#!/usr/bin/env bash
# Installs what avikit needs to build, test and run on Debian 12 (as root, or with sudo).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git xz-utils ccache
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev libswscale-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev libpng-dev
  clang clang-format libclang-rt-14-dev valgrind
  libsdl2-dev xvfb xauth
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed python3-pil
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
