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

# Now and then Wine fails to start a program at all: it ends with 1 and nothing printed
# (seen once in CI, listing a suite's cases that it had listed a moment before). A suite
# asked for its list always prints one, so a list that fails empty is asked for again, at
# most twice, with a line saying so. Test runs are left as they are: a failure is a failure.
case " $* " in
  *" --gtest_list_tests "*) ;;
  *) exec wine "$@" ;;
esac
for try in 1 2 3; do
  out=$(wine "$@")
  rc=$?
  if [[ $rc -eq 0 || -n "$out" || $try -eq 3 ]]; then
    [[ -z "$out" ]] || printf '%s\n' "$out"
    exit "$rc"
  fi
  echo "wine-run: listing the cases of $1 ended with $rc and printed nothing; asking again" >&2
  sleep 1
done
