# Wine for the Windows build: a 64-bit prefix of our own inside the build tree,
# a persistent wineserver (later Wine starts cost milliseconds, not half a
# second) and an X display (our own Xvfb when there is none).
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The tests' prefix, with unmanaged windows; an interactive run uses
# velqa_use_desktop_prefix. A WINEPREFIX given by the caller is kept for both.
VELQA_CALLER_WINEPREFIX=${WINEPREFIX:-}
export WINEPREFIX=${WINEPREFIX:-$VELQA_ROOT/build/wineprefix}
VELQA_WINE_WINDOWS=unmanaged
export WINEARCH=win64
# Debian keeps wine64 and wineserver outside PATH.
case ":$PATH:" in *:/usr/lib/wine:*) ;; *) export PATH="$PATH:/usr/lib/wine" ;; esac
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

velqa_wine_bin() {
  if command -v wine64 >/dev/null 2>&1; then echo wine64; else echo wine; fi
}

# A prefix whose windows the desktop's window manager handles (moving,
# stacking, the taskbar), for running the application on the user's display.
velqa_use_desktop_prefix() {
  [ -n "$VELQA_CALLER_WINEPREFIX" ] || export WINEPREFIX=$VELQA_ROOT/build/wineprefix-desktop
  VELQA_WINE_WINDOWS=managed
}

# Starts Xvfb on a fixed display unless DISPLAY already names a live one; the
# PID of an Xvfb started here is left in VELQA_OWN_XVFB_PID.
VELQA_OWN_XVFB_PID=""
velqa_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=${VELQA_XVFB_DISPLAY:-77}
  export DISPLAY=":$n"
  if ! xdpyinfo >/dev/null 2>&1; then
    rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    (setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &)
    local i
    for i in $(seq 1 50); do
      if xdpyinfo >/dev/null 2>&1; then
        VELQA_OWN_XVFB_PID=$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)
        return 0
      fi
      sleep 0.1
    done
    echo "wine: could not start Xvfb on :$n" >&2
    return 1
  fi
}

# Ends the Xvfb that velqa_ensure_display started, if any.
velqa_stop_own_display() {
  [ -n "$VELQA_OWN_XVFB_PID" ] || return 0
  kill "$VELQA_OWN_XVFB_PID" 2>/dev/null
  local i
  for i in $(seq 1 50); do kill -0 "$VELQA_OWN_XVFB_PID" 2>/dev/null || break; sleep 0.1; done
  VELQA_OWN_XVFB_PID=""
}

# Creates the prefix once (Windows 10). The tests' prefix has unmanaged X11
# windows: without a window manager every hide or destroy of a managed window
# costs two seconds.
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
    if [ "$VELQA_WINE_WINDOWS" = unmanaged ]; then
      "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    fi
    wineserver -w
    touch "$WINEPREFIX/.velqa-ready"
  ) 9>"$WINEPREFIX.lock"
}

# True when a wineserver serves the prefix: it holds a lock on the "lock" file
# of its server directory, server-DEVICE-INODE (of the prefix) under
# /tmp/.wine-UID, or with Debian's Wine under the /tmp directory that the
# prefix's "wineserver" file names.
velqa_wineserver_running() {
  [ -d "$WINEPREFIX" ] || return 1
  python3 - "$WINEPREFIX" <<'EOF'
import errno, fcntl, os, sys
prefix = sys.argv[1]
bases = ["/tmp/.wine-%d" % os.getuid()]
try:
    with open(os.path.join(prefix, "wineserver")) as named:
        bases.insert(0, os.path.join("/tmp", named.read().strip()))
except OSError:
    pass
info = os.stat(prefix)
for base in bases:
    try:
        fd = os.open("%s/server-%x-%x/lock" % (base, info.st_dev, info.st_ino), os.O_RDWR)
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError as error:
        if error.errno in (errno.EAGAIN, errno.EACCES):
            sys.exit(0)
sys.exit(1)
EOF
}

velqa_wineserver_keep() { wineserver -p >/dev/null 2>&1 || true; }
velqa_wineserver_stop() { wineserver -k >/dev/null 2>&1 || true; }
