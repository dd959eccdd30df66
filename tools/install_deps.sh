#!/usr/bin/env bash
# Installs the Debian packages qvdelay needs to build, run and test.
# Usage: tools/install_deps.sh [build|virtual|test]
#   build    what the Linux program needs to build and run
#   virtual  build + a virtual display (Xvfb) and openbox (tools/run.sh --virtual)
#   test     build + the virtual display, the Windows cross build, Wine and
#            the test tools
set -euo pipefail
mode=${1:-test}
pkgs=(cmake ninja-build g++ make pkg-config libgtest-dev googletest libbenchmark-dev libpng-dev zlib1g-dev libsdl2-dev)
if [ "$mode" = virtual ]; then
  pkgs+=(xvfb openbox)
fi
if [ "$mode" = test ]; then
  pkgs+=(clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 xvfb openbox wmctrl x11-utils mesa-vulkan-drivers xdotool imagemagick xfonts-base xfonts-jisx0213 python3 dpkg-dev desktop-file-utils)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  echo "installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
