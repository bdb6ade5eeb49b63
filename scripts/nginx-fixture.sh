#!/usr/bin/env bash
# The Windows tests' nginx: a CTest fixture around scripts/nginx-serve.sh that
# serves STATE/www and hands the address to the test programs.
#   nginx-fixture.sh start STATE     start nginx on a free loopback port
#   nginx-fixture.sh stop STATE      stop it
#   nginx-fixture.sh run STATE CMD...
#       run CMD with RQ_TEST_BASE_URL (http://127.0.0.1:PORT/) and
#       RQ_TEST_CONTENT_ROOT (the served folder as Wine sees it, Z:\...)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?command}
state=${2:?state folder}
mkdir -p "$state/www"
state=$(cd "$state" && pwd)

case "$cmd" in
  start)
    "$here/nginx-serve.sh" stop "$state"
    "$here/nginx-serve.sh" start "$state/www" "$state" > "$state/url"
    echo "nginx at $(cat "$state/url") serving $state/www"
    ;;
  stop)
    "$here/nginx-serve.sh" stop "$state"
    ;;
  run)
    shift 2
    RQ_TEST_BASE_URL=$(cat "$state/url")
    RQ_TEST_CONTENT_ROOT="Z:$(echo "$state/www" | tr / '\\')"
    export RQ_TEST_BASE_URL RQ_TEST_CONTENT_ROOT
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop|run STATE [CMD...]" >&2
    exit 2
    ;;
esac
