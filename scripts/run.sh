#!/bin/bash
# Sets up, builds and runs the application under Wine. On the desktop's own display when
# DISPLAY is set, else on a private Xvfb display with a screenshot every few seconds in
# out/screens/. The program runs from out/app/, where it writes its page files.
# Arguments are passed to the program (e.g. --version).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${OVRA_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh" || exit 1
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null &&
  make -C "$build" -j2 --no-print-directory OVRA-Zirer || exit 1

mkdir -p "$root/out/app"
cp "$build/OVRA-Zirer.exe" "$root/out/app/"

headless=0
if [[ -z "${DISPLAY:-}" ]]; then
  headless=1
  source "$root/scripts/wine-session.sh"
  trap wine_session_stop EXIT
  trap "exit 130" INT TERM
  wine_session_start
else
  export WINEPREFIX="${WINEPREFIX:-$HOME/.local/share/ovra-zirer/wine}"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
fi

# --- stand-in services -------------------------------------------------------------
# The AI service, update server and browser runtime stand-ins start here once they
# exist; their addresses go into the environment of the program below.
# ------------------------------------------------------------------------------------

wine "$root/out/app/OVRA-Zirer.exe" "$@" &
app=$!
echo "run.sh: OVRA-Zirer started (pid $app) on display $DISPLAY"

if (( headless )); then
  screens="$root/out/screens"
  mkdir -p "$screens"
  n=0
  while kill -0 "$app" 2>/dev/null; do
    sleep 5
    n=$((n + 1))
    xwd -root -silent -display "$DISPLAY" | convert xwd:- "png:$screens/screen-$(printf %04d $n).png" &&
      cp "$screens/screen-$(printf %04d $n).png" "$screens/latest.png"
  done
fi
wait "$app"
rc=$?
echo "run.sh: OVRA-Zirer exited with $rc"
exit $rc
