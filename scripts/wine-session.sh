# Helpers to bring up and take down one Wine session: an Xvfb display first, then a
# fresh prefix. Sourced by the test scripts; stops only what it started.
wine_session_start() {
  WINE_SESSION_DIR=$(mktemp -d /tmp/ovra-wine.XXXXXX)
  local n
  for n in $(seq 90 190); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb :$n -screen 0 1920x1080x24 -nolisten tcp >"$WINE_SESSION_DIR/xvfb.log" 2>&1 &
    WINE_SESSION_XVFB=$!
    local i
    for i in $(seq 1 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.1
    done
    if kill -0 "$WINE_SESSION_XVFB" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]]; then
      export DISPLAY=:$n
      break
    fi
  done
  export WINEPREFIX="$WINE_SESSION_DIR/prefix"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >"$WINE_SESSION_DIR/wineboot.log" 2>&1
}

wine_session_stop() {
  [[ -n "${WINEPREFIX:-}" ]] && wineserver -k >/dev/null 2>&1
  [[ -n "${WINE_SESSION_XVFB:-}" ]] && kill "$WINE_SESSION_XVFB" 2>/dev/null && wait "$WINE_SESSION_XVFB" 2>/dev/null
  [[ -n "${WINE_SESSION_DIR:-}" ]] && rm -rf "$WINE_SESSION_DIR"
  unset WINE_SESSION_XVFB WINE_SESSION_DIR
}
