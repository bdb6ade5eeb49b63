# shellcheck shell=bash
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
. "$rq_root/scripts/needs.sh"

# The prefix's virtual display: "NUMBER PID" of its Xvfb.
rq_display_file="$WINEPREFIX.display"

# True when the display recorded for this prefix is up and is still our Xvfb.
rq_own_display_alive() {
  local n pid
  read -r n pid 2>/dev/null <"$rq_display_file" || return 1
  [ -n "$n" ] && [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && xdpyinfo -display ":$n" >/dev/null 2>&1
}

# Starts an Xvfb on a display number that is free (Xvfb picks it and writes it
# to the descriptor given by -displayfd once it accepts clients) and records it.
# Each prefix has a display of its own: windows of two checkouts testing at once
# never overlap, and a chroot on this machine cannot meet this machine's
# displays through their abstract sockets.
rq_start_display() {
  local ready="$rq_display_file.new" n="" pid
  rm -f "$ready"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 </dev/null 9>&- &
  pid=$!
  for _ in $(seq 100); do
    n=$(tr -dc 0-9 <"$ready")
    [ -n "$n" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$ready"
  if [ -z "$n" ]; then
    echo "wine-env: Xvfb did not start a display" >&2
    return 1
  fi
  echo "$n $pid" >"$rq_display_file"
}

rq_wine_ready() {
  rq_need wine wineboot wineserver flock setsid md5sum
  local own_display=0
  if [ -z "${DISPLAY:-}" ] || [ "${RQ_OWN_DISPLAY:-}" = 1 ]; then
    own_display=1
    rq_need Xvfb xdpyinfo
  fi
  (
    flock 9
    if [ "$own_display" = 1 ] && ! rq_own_display_alive; then
      rq_start_display || exit 1
    fi
    if [ "$own_display" = 1 ]; then
      read -r n _ <"$rq_display_file"
      export DISPLAY=":$n"
    fi
    if [ ! -f "$WINEPREFIX/.rq-ready" ]; then
      # wineboot returns once the prefix is built; waiting for the server to
      # exit (wineserver -w) would hang on a persistent server.
      if ! wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1 9>&-; then
        echo "wine-env: wineboot could not make the prefix $WINEPREFIX (see $WINEPREFIX.wineboot.log)" >&2
        exit 1
      fi
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
    if ! setsid wine cmd.exe /c exit >/dev/null 2>&1 </dev/null 9>&-; then
      echo "wine-env: Wine does not run programs in $WINEPREFIX (try: wine cmd.exe /c exit)" >&2
      exit 1
    fi
  ) 9>"$WINEPREFIX.lock" || exit 1
  if [ "$own_display" = 1 ]; then
    local n
    read -r n _ <"$rq_display_file"
    export DISPLAY=":$n"
    export RQ_OWN_DISPLAY=1
  fi
}
