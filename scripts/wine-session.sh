# Brings up and takes down one Wine session for the shell scripts: an Xvfb display first,
# then a fresh prefix. The session is made by the same code as the Node tests' sessions
# (tests/support/wine.js), so both stop with an error when no display comes up. Sourced
# by the scripts; stops only what it started.
_wine_session_js="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/support/wine.js"

wine_session_start() {
  local vars
  vars=$(node "$_wine_session_js" start) || return 1
  eval "$vars"
  export DISPLAY WINEPREFIX
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

wine_session_stop() {
  [[ -n "${WINE_SESSION_DIR:-}" ]] &&
    node "$_wine_session_js" stop "$WINE_SESSION_DIR" "${WINE_SESSION_XVFB:-0}"
  unset WINE_SESSION_XVFB WINE_SESSION_DIR
}
