#!/bin/bash
# Installs what building and testing need on Debian, only what is missing, then the
# npm packages when node_modules is missing or older than the lock file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++-mingw-w64-x86-64-posix  # cross compiler, windres, objdump
  cmake make
  wine wine64                 # runs the Windows build
  libgnutls30                 # Wine's BCrypt verifies update signatures through it
  xvfb x11-apps xdotool       # private display, screen grabs (xwd), window lookup
  imagemagick                 # screen grabs to PNG and pixels
  chromium                    # the page tests' browser
  doctest-dev                 # C++ unit tests
  fonts-noto-cjk              # the Chinese texts on screen (the prefixes map the
                              # program's fonts to it)
  fonts-noto-color-emoji      # the emoji of the page's buttons in screenshots
  espeak-ng lame              # the AI service stand-in's spoken audio, the tests' microphone
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# Node 20 may come from outside Debian, with its own npm bundled.
if ! command -v node >/dev/null || (( $(node -p 'process.versions.node.split(".")[0]') < 20 )); then
  missing+=(nodejs)
fi
command -v npm >/dev/null || missing+=(npm)

if (( ${#missing[@]} )); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [[ -f "$root/package.json" ]]; then
  stamp="$root/node_modules/.package-lock.json"
  if [[ ! -f "$stamp" || "$root/package-lock.json" -nt "$stamp" || "$root/package.json" -nt "$stamp" ]]; then
    echo "setup: npm ci"
    (cd "$root" && npm ci --no-audit --no-fund)
  fi
fi
