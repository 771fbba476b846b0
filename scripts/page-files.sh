#!/bin/bash
# Writes the page as the program carries it into OUT_DIR: index.html as it is, and
# app.css and app.js joined from the files desktop/ui/page-files.txt lists, in its
# order. The API base token stays in place; the build and the page harness put the
# address in.
set -euo pipefail
out=${1:?usage: page-files.sh OUT_DIR}
ui=$(cd "$(dirname "$0")/../desktop/ui" && pwd)
mkdir -p "$out"
css=$(mktemp "$out/.app.css.XXXXXX")
js=$(mktemp "$out/.app.js.XXXXXX")
trap 'rm -f "$css" "$js"' EXIT
while IFS= read -r part || [[ -n $part ]]; do
  [[ $part =~ ^[[:space:]]*(.*[^[:space:]])?[[:space:]]*$ ]] && part=${BASH_REMATCH[1]}
  case $part in
    '' | '#'*) ;;
    *.css) cat "$ui/$part" >>"$css" ;;
    *.js) cat "$ui/$part" >>"$js" ;;
    *) echo "page-files.sh: $part is neither a style sheet nor a script" >&2; exit 1 ;;
  esac
done <"$ui/page-files.txt"
cp "$ui/index.html" "$out/index.html"
chmod 644 "$css" "$js"
mv "$css" "$out/app.css"
mv "$js" "$out/app.js"
