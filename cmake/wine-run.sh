#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine: the cross build's CMAKE_CROSSCOMPILING_EMULATOR.
# The prefix, the display and the persistent wine server come from scripts/wine-test.sh
# (WINEPREFIX, DISPLAY); without a prefix, say so rather than let Wine make one per run.
if [[ -z "${WINEPREFIX:-}" || ! -d "$WINEPREFIX" ]]; then
  echo "wine-run: WINEPREFIX is not set up; run the Windows tests through scripts/wine-test.sh" >&2
  exit 125
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
