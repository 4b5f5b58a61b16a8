#!/usr/bin/env bash
# Everything CI checks, in one run: what the sources may include; the README's test command;
# the sanitizer builds (ASan+UBSan over every suite, TSan over the threaded ones); a Clang
# build; the GCC release build the benchmarks use (-O3, where GCC warns differently), with
# its tests, installed and used by an outside program; the x86_64 Windows build with its
# tests, run under 64-bit Wine (scripts/wine-test.sh); and the original i686 Windows build,
# compile and link only (no 32-bit programs run on these machines).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
step() { printf '\n==== %s ====\n' "$*"; }

step "source checks"
# src/cmn is platform-neutral: no header of the platform layer or of any system.
if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](plat/|windows\.h|mmsystem\.h|ddraw\.h|unistd\.h|pthread\.h|fcntl\.h|sys/|linux/|SDL)' src/cmn; then
  echo "ci: src/cmn includes a platform header (above)" >&2
  exit 1
fi
# thistle.h is the whole API: it includes every header under include/thistle/.
for h in include/thistle/*.h; do
  if ! grep -q "^#include \"thistle/${h##*/}\"" include/thistle.h; then
    echo "ci: include/thistle.h does not include thistle/${h##*/}" >&2
    exit 1
  fi
done

step "setup"
scripts/setup.sh

step "Clang 14 build"
cmake -S . -B build-ci-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DTHISTLE_BENCH=OFF >/dev/null
cmake --build build-ci-clang -j"$jobs"

step "GCC release build (-O3) and tests"
cmake -S . -B build-ci-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-ci-release -j"$jobs"
ctest --test-dir build-ci-release -j8 --output-on-failure

step "install, and a program built against the installed package"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build-ci-release --prefix "$prefix/usr" >/dev/null
cmake -S tests/install -B "$prefix/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
cmake --build "$prefix/build"
THISTLE_VIDEO=null "$prefix/build/smoke"
"$prefix/usr/bin/thistlepack" -o "$prefix/readme.tpk" README.md
"$prefix/usr/bin/thistlepack" -t "$prefix/readme.tpk"
"$prefix/usr/bin/thistleshape" -q -p lz -o "$prefix/card.shp" tests/win/data/testcard.png
"$prefix/usr/bin/thistleshape" -l "$prefix/card.shp"
"$prefix/usr/bin/thistleshape" -q -d -o "$prefix/card.png" "$prefix/card.shp"

step "ASan+UBSan build and tests"
cmake -S . -B build-ci-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTHISTLE_SANITIZE=address \
      -DTHISTLE_BENCH=OFF >/dev/null
cmake --build build-ci-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-ci-asan -j8 --output-on-failure

step "TSan build and tests"
cmake -S . -B build-ci-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTHISTLE_SANITIZE=thread \
      -DTHISTLE_BENCH=OFF -DTHISTLE_DEMO=OFF >/dev/null
cmake --build build-ci-tsan -j"$jobs"
# The long single-threaded sweeps (label singlethread: byte copiers, randomized
# memory-class runs, packers and decoders, the packing tool, corpus replays) have no
# threads to check and take minutes under TSan; the ASan run above covers them.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-ci-tsan -j8 --output-on-failure -LE singlethread

step "Windows build (x86_64) and its tests under Wine"
windows_start=$SECONDS
scripts/wine-test.sh build-ci-mingw-x86_64
echo "ci: the Windows step took $((SECONDS - windows_start)) s"

step "Windows cross build (i686, compile and link)"
cmake -S . -B build-ci-mingw-i686 -G Ninja -DCMAKE_BUILD_TYPE=Release -DTHISTLE_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build-ci-mingw-i686 -j"$jobs"

step "tests (the README's test command)"
scripts/test.sh
