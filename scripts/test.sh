#!/usr/bin/env bash
# The README's test command: installs what is missing, builds everything and runs every
# test suite with the headless backend. Extra arguments go to ctest (e.g. -R launcher).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
# The end-to-end launcher cases spend most of their time sleeping in the launcher's
# two-second polls, so they run many at a time even on two cores.
ctest --test-dir build -j8 --output-on-failure "$@"
