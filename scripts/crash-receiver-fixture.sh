#!/usr/bin/env bash
# The Windows tests' crash-report receiver: a CTest fixture that runs the
# native crashreceiver (the linux preset's) on a free loopback port.
#   crash-receiver-fixture.sh start STATE RECEIVER   start it, storing in STATE/store
#   crash-receiver-fixture.sh stop STATE             stop it
#   crash-receiver-fixture.sh run STATE CMD...
#       run CMD with RQ_TEST_CRASH_URL (the upload address) and
#       RQ_TEST_CRASH_STORE (the store as Wine sees it, Z:\...)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/needs.sh"
cmd=${1:?command}
state=${2:?state folder}
mkdir -p "$state"
state=$(cd "$state" && pwd)

stop() {
  if [ -f "$state/pid" ]; then
    pid=$(cat "$state/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$state/pid"
  fi
}

case "$cmd" in
  start)
    receiver=${3:?receiver program}
    rq_need setsid timeout
    if [ ! -x "$receiver" ]; then
      # Built by the linux preset; build just this program when it is missing.
      (cd "$here/.." && cmake --preset linux >/dev/null && cmake --build --preset linux --target crashreceiver >/dev/null)
    fi
    stop
    rm -rf "$state/store" "$state/port"
    # Never outlives a test run that was cut short: it ends itself after an hour.
    # The tests' reports are small: a test machine with little disk left must
    # not see them refused for the free-space floor meant for a real store, and
    # all of them come from one address (also through the TLS fixture's nginx).
    setsid timeout 3600 "$receiver" --port 0 --store "$state/store" --port-file "$state/port" \
      --min-free-mib 0 --rate 100 >"$state/receiver.log" 2>&1 </dev/null &
    echo $! >"$state/pid"
    for _ in $(seq 100); do [ -s "$state/port" ] && break; sleep 0.1; done
    if [ ! -s "$state/port" ]; then
      cat "$state/receiver.log" >&2
      stop
      exit 1
    fi
    echo "crashreceiver on 127.0.0.1:$(cat "$state/port") storing in $state/store"
    ;;
  stop)
    stop
    ;;
  run)
    shift 2
    RQ_TEST_CRASH_URL="http://127.0.0.1:$(cat "$state/port")/reception_jpn/Default.aspx"
    RQ_TEST_CRASH_STORE="Z:$(echo "$state/store" | tr / '\\')"
    export RQ_TEST_CRASH_URL RQ_TEST_CRASH_STORE
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop|run STATE [RECEIVER|CMD...]" >&2
    exit 2
    ;;
esac
