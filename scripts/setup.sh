#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need. Idempotent: it
# installs only what is missing, and does nothing (not even a package-list update) when
# everything is there. Runs apt-get as root, or through sudo.
#   scripts/setup.sh        what building and the Linux tests need
#   scripts/setup.sh wine   that, plus what running the Windows tests needs (scripts/wine-test.sh)
set -euo pipefail

group=${1:-}
if [[ -n "$group" && "$group" != wine ]]; then
  echo "usage: scripts/setup.sh [wine]" >&2
  exit 2
fi

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev   # compilers, sanitizer runtimes
  libgtest-dev libgmock-dev libbenchmark-dev          # tests and benchmarks
  libsdl2-dev libx11-dev                              # the display backend; X read-back in tests
  xvfb xdotool                                        # a real X display and input for end-to-end tests
  libpng-dev zlib1g-dev                               # PNG input of the packing tool
  libimagequant-dev                                   # colour tables of the shape tool
  liblz4-dev libzstd-dev libsquish-dev                # peers of the packing benchmarks
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix # Windows cross builds
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
)
if [[ "$group" == wine ]]; then
  # 64-bit Wine only: adding the 32-bit loader (wine32) breaks the 64-bit one on machines
  # that cannot run 32-bit code. Xvfb (above) is the display the Windows programs run on.
  packages+=(wine wine64)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "setup: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
