# Sourced by the test bench (bench-up) and by scripts/run: the display and the
# Wine prefix that both need, set up one way.  Expects WINEPREFIX exported.

# start_xvfb STATE_DIR: a private virtual display.  Xvfb picks a free number
# itself (-displayfd): lock files in /tmp do not show displays whose sockets
# live in the abstract namespace.  Exports DISPLAY; the pid goes to
# STATE_DIR/xvfb.pid.
start_xvfb() {
  local state=$1 n
  rm -f "$state/display.raw"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$state/display.raw" \
    >"$state/xvfb.log" 2>&1 </dev/null &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 200); do [ -s "$state/display.raw" ] && break; sleep 0.05; done
  n=$(tr -dc 0-9 <"$state/display.raw")
  [ -n "$n" ] || { echo "Xvfb did not start:" >&2; cat "$state/xvfb.log" >&2; return 1; }
  export DISPLAY=":$n"
}

# prepare_prefix LOG: makes $WINEPREFIX once (about 10 s), then keeps a
# persistent wineserver running so that every process starts in milliseconds.
# A new prefix gets unmanaged windows: without a window manager every hide or
# destroy of a managed window costs 2 s.  The value is written before the
# server restarts, because Wine's desktop process reads it when it starts,
# and the first wine command after the restart starts that process.
prepare_prefix() {
  local log=$1 old
  for old in .orvelle-bench .orvelle-run .orvelle-fresh; do  # the markers of earlier versions
    if [ -f "$WINEPREFIX/$old" ]; then mv "$WINEPREFIX/$old" "$WINEPREFIX/.orvelle-prefix"; fi
  done
  if [ ! -f "$WINEPREFIX/.orvelle-prefix" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    wineboot -i >"$log" 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # A crashing test prints its backtrace and ends, instead of waiting in
    # the debugger's dialog until the test's time is up.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    touch "$WINEPREFIX/.orvelle-prefix"
    # A fresh prefix is left with two services.exe; the service manager then
    # cannot start RpcSs and every COM local-server activation hangs.  One
    # restart of the server (under a second) leaves a clean one.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 </dev/null || true
}
