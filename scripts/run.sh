#!/bin/bash
# Sets up, builds and runs the application under Wine. On the desktop's own display when
# DISPLAY is set, else on a private Xvfb display with a screenshot every few seconds in
# out/screens/. The program runs from out/app/, where it writes its page files.
# Arguments are passed to the program (e.g. --version).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${OVRA_BUILD_DIR:-$root/build}"

OVRA_BUILD_DIR="$build" "$root/scripts/build.sh" || exit 1

mkdir -p "$root/out/app"
cp "$build/OVRA-Zirer.exe" "$root/out/app/"

headless=0
if [[ -z "${DISPLAY:-}" ]]; then
  headless=1
  source "$root/scripts/wine-session.sh"
  trap wine_session_stop EXIT
  trap "exit 130" INT TERM
  wine_session_start || exit 1
else
  export WINEPREFIX="${WINEPREFIX:-$HOME/.local/share/ovra-zirer/wine}"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
fi

# --- stand-in services -------------------------------------------------------------
# The AI service and the update server listen on the addresses built into the program;
# the browser runtime stand-in (Chromium underneath) is found through the variable the
# loader honours, with a visible browser window when there is a display; the digest
# verifier stands in for PowerShell, which Wine only has as a stub.
node "$root/scripts/standins.js" "$build" &
services=$!
trap 'kill $services 2>/dev/null; wait $services 2>/dev/null' EXIT
(( headless )) && trap 'kill $services 2>/dev/null; wait $services 2>/dev/null; wine_session_stop' EXIT
[[ -f "$WINEPREFIX/system.reg" ]] || wineboot -i >/dev/null 2>&1
# The program's own texts (start-up screen, notices) in a font with Chinese glyphs.
node "$root/tests/support/wine.js" fonts || exit 1
ps_dir="$WINEPREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0"
mkdir -p "$ps_dir" && cp "$build/standins/powershell.exe" "$ps_dir/powershell.exe"
export WEBVIEW2_BROWSER_EXECUTABLE_FOLDER="Z:${build//\//\\}\\standin-runtime"
# A visible browser window, on the desktop or on the private display of the screenshots.
export OVRA_STANDIN_VISIBLE=1
# ------------------------------------------------------------------------------------

wine "$root/out/app/OVRA-Zirer.exe" "$@" &
app=$!
echo "run.sh: OVRA-Zirer started (pid $app) on display $DISPLAY"
# An update ends this process and starts the new build; the session lasts until every
# program in the prefix has ended. `wineserver -w` returns at once while the program is
# still bringing its server up, so it is asked only once the program has ended.
( while kill -0 "$app" 2>/dev/null; do sleep 1; done; wineserver -w ) &
wine_alive=$!

if (( headless )); then
  screens="$root/out/screens"
  mkdir -p "$screens"
  n=0
  while kill -0 "$wine_alive" 2>/dev/null; do
    sleep 5
    n=$((n + 1))
    xwd -root -silent -display "$DISPLAY" | convert xwd:- "png:$screens/screen-$(printf %04d $n).png" &&
      cp "$screens/screen-$(printf %04d $n).png" "$screens/latest.png"
  done
fi
wait "$app"
rc=$?
echo "run.sh: OVRA-Zirer exited with $rc"
wait "$wine_alive"
exit $rc
