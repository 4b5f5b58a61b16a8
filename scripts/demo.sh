#!/usr/bin/env bash
# Builds thistlerun and the demo installation, and runs the launcher on a fresh copy of
# the installation (so the first-run adjustment happens every time).
#
# In a terminal the front end and the game ask what to do; without one they decide by
# themselves and the run ends within a minute. The launcher's full-screen black window
# would cover the terminal the children talk in, so the headless backend is the default;
# THISTLE_VIDEO=sdl scripts/demo.sh shows the real window.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

build="$root/build"
install="$build/demo/install"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# A fresh installation: demo_install lays out every file that is missing, so removing the
# whole folder also drops what earlier runs left (quit.dat, ft.dat, options/firsttimefe.txt,
# options/sfx.dat, changed options ...).
rm -rf "$install"
cmake --build "$build" -j"$(nproc)" --target thistlerun demo_install

launcher="$build/src/launcher/thistlerun"
if [[ ! -x "$launcher" ]]; then
  launcher=$(find "$build" -type f -name thistlerun -perm -u+x -print -quit)
fi
if [[ -z "$launcher" || ! -x "$launcher" ]]; then
  echo "demo: thistlerun was not built" >&2
  exit 1
fi

export THISTLE_REGISTRY="$build/demo/registry.reg"
export THISTLE_SESSION="demo-$$"
export THISTLE_VIDEO="${THISTLE_VIDEO:-null}"

echo
echo "demo: $launcher (installation $install, video backend $THISTLE_VIDEO)"
if [[ -t 0 ]]; then
  echo "demo: the front end and the game will ask you what to do"
  runner=()
else
  echo "demo: no terminal: the front end and the game decide by themselves"
  runner=(timeout 120)
fi
echo

set +e
"${runner[@]}" "$launcher"
status=$?
set -e

# One 32-bit little-endian value per control file, or a note when the file is not there.
value() {
  local f="$install/$1"
  if [[ -f "$f" && $(stat -c %s "$f") -ge 4 ]]; then
    od -An -t d4 -N 4 --endian=little "$f" | tr -d ' '
  else
    echo "(none)"
  fi
}

echo
if ((status == 124)) && [[ ! -t 0 ]]; then
  echo "demo: thistlerun did not finish within 120 s and was stopped"
fi
echo "demo: thistlerun exit code $status"
echo "demo: quit.dat                 $(value quit.dat)"
echo "demo: ft.dat                   $(value ft.dat)"
echo "demo: options/menu.dat         $(value options/menu.dat)"
echo "demo: options/sfx.dat          $(value options/sfx.dat)"
echo "demo: options/mp.dat           $(value options/mp.dat)"
echo "demo: options/firsttimefe.txt  $(value options/firsttimefe.txt)"
exit "$status"
