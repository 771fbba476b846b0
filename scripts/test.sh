#!/bin/bash
# Sets up, builds into build/ and runs every test: the C++ unit tests under Wine through
# CTest, then the end-to-end and page tests with Node's test runner. Exits non-zero when
# anything fails; leaves no Wine or Xvfb of its own behind.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${OVRA_BUILD_DIR:-$root/build}"

OVRA_BUILD_DIR="$build" "$root/scripts/build.sh" || exit 1

failed=0
source "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start || { echo "test.sh: no Wine session for the unit tests"; exit 1; }
(cd "$build" && ctest --output-on-failure) || failed=1
wine_session_stop

# The Node tests start their own Wine sessions and browsers.
unset WINEPREFIX DISPLAY
export OVRA_BUILD_DIR="$build"
for dir in tests/e2e tests/page; do
  if compgen -G "$root/$dir/*.test.js" >/dev/null; then
    (cd "$root" && node --test --test-concurrency=1 "$dir/") || failed=1
  fi
done

if (( failed )); then
  echo "test.sh: FAILED"
else
  echo "test.sh: all tests passed"
fi
exit $failed
