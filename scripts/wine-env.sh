# Sourced by the scripts that run Windows programs: a private 64-bit Wine prefix,
# a persistent wineserver (each later Wine start then costs milliseconds) and a
# virtual X display when there is no display of the user's.
rq_cache="${XDG_CACHE_HOME:-$HOME/.cache}/tolvane-launcher"
# One prefix per checkout: named objects (the launcher's mutexes) live in the
# wineserver, so two checkouts testing at once must not share one.
rq_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rq_tag=$(printf '%s' "$rq_root" | md5sum | cut -c1-10)
export WINEPREFIX="${RQ_WINEPREFIX:-$rq_cache/wine-$rq_tag}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"
mkdir -p "$rq_cache"

rq_wine_ready() {
  (
    flock 9
    if [ -z "${DISPLAY:-}" ] || [ "${RQ_OWN_DISPLAY:-}" = 1 ]; then
      local n=77
      if ! xdpyinfo -display ":$n" >/dev/null 2>&1; then
        rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null 9>&- &
        for _ in $(seq 50); do xdpyinfo -display ":$n" >/dev/null 2>&1 && break; sleep 0.1; done
      fi
    fi
    if [ ! -f "$WINEPREFIX/.rq-ready" ]; then
      # wineboot returns once the prefix is built; waiting for the server to
      # exit (wineserver -w) would hang on a persistent server.
      DISPLAY=${DISPLAY:-:77} wineboot -i >/dev/null 2>&1 9>&- || true
      touch "$WINEPREFIX/.rq-ready"
    fi
    # Children must not inherit the lock's descriptor, or they hold the lock
    # for as long as they live.
    # A persistent server; detached so that whoever started it does not wait on it.
    # Starting it again while one runs for this prefix is a no-op.
    setsid wineserver -p >/dev/null 2>&1 </dev/null 9>&- &
    # Wine's own services (services.exe, winedevice.exe, ...) outlive the
    # program that started them: start them here, detached, so they never hold
    # the output pipe of a test.
    DISPLAY=${DISPLAY:-:77} setsid wine cmd.exe /c exit >/dev/null 2>&1 </dev/null 9>&- || true
  ) 9>"$WINEPREFIX.lock"
  if [ -z "${DISPLAY:-}" ] || [ "${RQ_OWN_DISPLAY:-}" = 1 ]; then
    export DISPLAY=:77
    export RQ_OWN_DISPLAY=1
  fi
}
