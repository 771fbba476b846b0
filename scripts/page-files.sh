#!/bin/bash
# Writes the page as the program carries it into OUT_DIR: index.html as it is, and
# app.css and app.js joined from the files desktop/ui/page-files.txt lists, in its
# order. A script named under node_modules/ comes from an npm package (npm ci
# installs it): its source-map comment is dropped, and its package's licence goes
# at the top of app.js. The API base token stays in place; the build and the page
# harness put the address in. desktop/app/CMakeLists.txt joins the files the same way.
set -euo pipefail
out=${1:?usage: page-files.sh OUT_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
ui=$root/desktop/ui
mkdir -p "$out"
css=$(mktemp "$out/.app.css.XXXXXX")
js=$(mktemp "$out/.app.js.XXXXXX")
notice=$(mktemp "$out/.notice.XXXXXX")
body=$(mktemp "$out/.body.XXXXXX")
trap 'rm -f "$css" "$js" "$notice" "$body"' EXIT

# The licence of the package that holds node_modules/PKG/..., as a comment.
licence() {
  local pkg
  pkg=$(sed -E 's#^node_modules/((@[^/]+/)?[^/]+)/.*#\1#' <<<"$1")
  local dir=$root/node_modules/$pkg
  if grep -q '\*/' "$dir/LICENSE"; then
    echo "page-files.sh: the licence of $pkg cannot be put in a comment" >&2
    exit 1
  fi
  printf '/*! %s %s, under this licence:\n\n' "$pkg" "$(node -p "require('$dir/package.json').version")"
  cat "$dir/LICENSE"
  printf '*/\n'
}

while IFS= read -r part || [[ -n $part ]]; do
  [[ $part =~ ^[[:space:]]*(.*[^[:space:]])?[[:space:]]*$ ]] && part=${BASH_REMATCH[1]}
  case $part in
    '' | '#'*) ;;
    node_modules/*.js)
      if [[ ! -f $root/$part ]]; then
        echo "page-files.sh: $part is missing; run npm ci (scripts/setup.sh does)" >&2
        exit 1
      fi
      licence "$part" >>"$notice"
      sed '/^\/\/# sourceMappingURL=/d' "$root/$part" >>"$body"
      ;;
    *.css) cat "$ui/$part" >>"$css" ;;
    *.js) cat "$ui/$part" >>"$body" ;;
    *) echo "page-files.sh: $part is neither a style sheet nor a script" >&2; exit 1 ;;
  esac
done <"$ui/page-files.txt"
cat "$notice" "$body" >"$js"
cp "$ui/index.html" "$out/index.html"
chmod 644 "$css" "$js"
mv "$css" "$out/app.css"
mv "$js" "$out/app.js"
