#!/bin/bash
# Sets up, builds into build/ (and build-vendor/, see below), checks the scripts with
# scripts/lint.js and runs every test: the C++ unit tests under Wine through CTest, then
# the end-to-end and page tests with Node's test runner. Exits non-zero when anything
# fails; leaves no Wine or Xvfb of its own behind.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${OVRA_BUILD_DIR:-$root/build}"

OVRA_BUILD_DIR="$build" "$root/scripts/build.sh" || exit 1

# The static check first: a finding fails the run before any test starts.
(cd "$root" && node scripts/lint.js) || { echo "test.sh: FAILED (lint)"; exit 1; }

# The program once more with the vendor's loader library embedded, when we have that
# file: tests/e2e/vendor-loader.test.js starts it. Without the tests only the program
# and the loader library are built.
vendor_loader="$root/../shared/vendor/WebView2Loader.dll"
if [[ -f "$vendor_loader" ]]; then
  OVRA_BUILD_DIR="$build-vendor" "$root/scripts/build.sh" -DOVRA_BUILD_TESTS=OFF \
    -DOVRA_VENDOR_LOADER_DLL="$(cd "$(dirname "$vendor_loader")" && pwd)/WebView2Loader.dll" ||
    exit 1
fi

failed=0
source "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start || { echo "test.sh: no Wine session for the unit tests"; exit 1; }
(cd "$build" && ctest --output-on-failure) || failed=1
wine_session_stop

# The Node tests start their own Wine sessions and browsers. A test that hangs fails after
# ten minutes instead of holding up the rest.
unset WINEPREFIX DISPLAY
export OVRA_BUILD_DIR="$build"
for dir in tests/scripts tests/e2e tests/page; do
  if compgen -G "$root/$dir/*.test.js" >/dev/null; then
    (cd "$root" && node --test --test-concurrency=1 --test-timeout=600000 "$dir/") || failed=1
  fi
done

if (( failed )); then
  echo "test.sh: FAILED"
else
  echo "test.sh: all tests passed"
fi
exit $failed
