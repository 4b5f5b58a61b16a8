#!/usr/bin/env bash
# The Windows tests: builds the x86_64 Windows configuration with its test suites and runs
# them through CTest under 64-bit Wine on a virtual X display.
#   scripts/wine-test.sh [build-dir] [ctest arguments...]
# The build directory defaults to build-wine; the Wine prefix is made under it (or at
# $WINEPREFIX when that is set). Installs what is missing (scripts/setup.sh wine), starts
# Xvfb and one persistent wine server, and stops them (by process id) when it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build-wine
if [[ $# -gt 0 && "$1" != -* ]]; then
  build=$1
  shift
fi
jobs=$(nproc)

scripts/setup.sh wine

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTHISTLE_TESTS=ON \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

export WINEPREFIX=${WINEPREFIX:-$(cd "$build" && pwd)/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINESERVER

pids=()
xdir=$(mktemp -d)
stop() {
  local i
  if [[ -n "${server:-}" ]]; then
    stop_wineserver
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  pids=()
}
trap 'stop; rm -rf "$xdir"' EXIT

# The daemons get /dev/null as their standard streams: a daemon holding CTest's output
# pipe open keeps CTest waiting for it after the test has ended.
start_wineserver() {
  local starts=0 t
  while ((starts < 3)); do
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    server=$!
    pids+=("$server")
    starts=$((starts + 1))
    # Up once its socket answers: wineserver -k0 sends signal 0, a no-op. On a fresh
    # prefix the server once ended at its start with nothing written but its lock (CI,
    # rarely): a server that is gone is started again; one that runs is waited for.
    # A server that runs but has not answered within 30 s (seen once on a fresh prefix on
    # the loaded machine) is ended and started again too.
    for t in $(seq 300); do
      wineserver -k0 2>/dev/null && return 0
      kill -0 "$server" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$server" 2>/dev/null; then
      kill "$server" 2>/dev/null || true
      wait "$server" 2>/dev/null || true
      echo "wine-test: the wine server did not answer; starting it again" >&2
    else
      wait "$server" 2>/dev/null || true
      echo "wine-test: the wine server ended as it started; starting it again" >&2
    fi
  done
  echo "wine-test: the wine server did not start" >&2
  return 1
}
# The system's own processes (services.exe, explorer.exe...) start with the first program
# and stay: started here, they do not inherit a test's output pipe.
start_system() {
  wineboot </dev/null >/dev/null 2>&1
}
stop_wineserver() {
  # wineserver -k ends every Windows process of this prefix (the system's own ones,
  # services.exe, explorer.exe..., do not end with their server otherwise), then the
  # server, which writes the registry to the prefix as it goes.
  wineserver -k 2>/dev/null || true
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  local rest=() p
  for p in "${pids[@]}"; do
    [[ "$p" == "$server" ]] || rest+=("$p")
  done
  pids=("${rest[@]}")
  server=
}

# A virtual X display; Xvfb reports the display number it took on a descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xdir/display" </dev/null \
  >/dev/null 2>&1 &
pids+=($!)
for t in $(seq 100); do
  [[ -s "$xdir/display" ]] && break
  sleep 0.1
done
[[ -s "$xdir/display" ]] || { echo "wine-test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$xdir/display")

mkdir -p "$WINEPREFIX"
start_wineserver
if [[ ! -f "$WINEPREFIX/.thistle-ready" ]]; then
  start=$SECONDS
  wineboot -i </dev/null >/dev/null 2>&1
  # One desktop window holds every window of the programs: display mode changes and flip
  # chains work there on Xvfb, which has no mode switching of its own. Direct3D draws
  # through GDI rather than OpenGL.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d gdi /f >/dev/null 2>&1
  # The desktop settings take effect with a new server.
  stop_wineserver
  start_wineserver
  touch "$WINEPREFIX/.thistle-ready"
  echo "wine-test: Wine prefix made in $((SECONDS - start)) s: $WINEPREFIX"
fi
start_system

# Under Wine each case starts a Wine process (a few tenths of a second), and most of them
# wait rather than compute: two per core. A case that fails gets one more run: a fresh
# prefix on a loaded machine now and then fails a process start or an X request outside
# the case (docs/windows.md lists what was seen); the first failure's output stays in the
# log, and a case that fails twice fails the step.
ctest --test-dir "$build" -j"$((jobs * 2))" --output-on-failure --repeat until-pass:2 "$@"
