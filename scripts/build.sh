#!/bin/bash
# Sets up the machine and builds everything into $OVRA_BUILD_DIR (default build/).
# Arguments are added to the CMake configuration (e.g. -DOVRA_BUILD_TESTS=OFF).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${OVRA_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh" || exit 1
# The test and demo build trusts the test signing key; the stand-ins sign with its
# private half.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DOVRA_OTA_PUBLIC_KEY="$root/tests/keys/ota-test-key.public.pem" "$@" >/dev/null &&
  make -C "$build" -j2 --no-print-directory
