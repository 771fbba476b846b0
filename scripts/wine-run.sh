#!/bin/bash
# Runs one Windows executable under Wine for CTest.
# Inside scripts/test.sh (WINEPREFIX and DISPLAY set) it just runs it; on its own it
# brings up a private Xvfb display and a fresh prefix, and takes both down afterwards.
set -u
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -n "${WINEPREFIX:-}" && -n "${DISPLAY:-}" ]]; then
  exec wine "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-session.sh"
wine_session_start || exit 1
wine "$@"
rc=$?
wine_session_stop
exit $rc
