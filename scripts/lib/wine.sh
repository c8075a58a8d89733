# Wine for the Windows build: a 64-bit prefix of our own inside the build tree,
# a persistent wineserver (later Wine starts cost milliseconds, not half a
# second) and an X display (our own Xvfb when there is none).
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

export WINEPREFIX=${WINEPREFIX:-$VELQA_ROOT/build/wineprefix}
export WINEARCH=win64
# Debian keeps wine64 and wineserver outside PATH.
case ":$PATH:" in *:/usr/lib/wine:*) ;; *) export PATH="$PATH:/usr/lib/wine" ;; esac
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

velqa_wine_bin() {
  if command -v wine64 >/dev/null 2>&1; then echo wine64; else echo wine; fi
}

# Starts Xvfb on a fixed display unless DISPLAY already names a live one.
velqa_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=${VELQA_XVFB_DISPLAY:-77}
  export DISPLAY=":$n"
  if ! xdpyinfo >/dev/null 2>&1; then
    rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    (setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &)
    local i
    for i in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "wine: could not start Xvfb on :$n" >&2
    return 1
  fi
}

# Creates the prefix once (Windows 10, unmanaged X11 windows: without a window
# manager every hide or destroy of a managed window costs two seconds).
velqa_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.velqa-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/.velqa-ready" ] && exit 0
    local wine
    wine=$(velqa_wine_bin)
    echo "wine: creating prefix $WINEPREFIX" >&2
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -w
    "$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.velqa-ready"
  ) 9>"$WINEPREFIX.lock"
}

velqa_wineserver_keep() { wineserver -p >/dev/null 2>&1 || true; }
velqa_wineserver_stop() { wineserver -k >/dev/null 2>&1 || true; }
