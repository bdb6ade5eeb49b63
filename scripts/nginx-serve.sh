#!/usr/bin/env bash
# Serves a folder with nginx on a free loopback port, from a private prefix,
# until stopped (the same files at /slow/..., at 256 KiB/s):
#   scripts/nginx-serve.sh start DIR STATE_DIR [LIMIT_RATE]   -> prints the base URL
#   scripts/nginx-serve.sh stop STATE_DIR
set -euo pipefail
. "$(dirname "$0")/needs.sh"
cmd=${1:?start or stop}
case "$cmd" in
  start)
    rq_need nginx curl shuf
    root=$(cd "${2:?folder}" && pwd)
    state=${3:?state folder}
    rate=${4:-0}
    mkdir -p "$state/logs" "$state/tmp"
    # nginx's workers drop to "nobody" when started as root, and then could
    # not read a folder under /root: keep the starting user.
    user_line=""
    if [ "$(id -u)" -eq 0 ]; then user_line="user root root;"; fi
    for _try in $(seq 20); do
    port=$(shuf -i 20000-60999 -n 1)
    cat > "$state/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $state/nginx.pid;
error_log $state/logs/error.log warn;
events { worker_connections 256; }
http {
  access_log $state/logs/access.log;
  client_body_temp_path $state/tmp;
  proxy_temp_path $state/tmp;
  fastcgi_temp_path $state/tmp;
  uwsgi_temp_path $state/tmp;
  scgi_temp_path $state/tmp;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $root;
    limit_rate $rate;
    location / { }
    # The same files, slowly: for tests that must catch a download midway.
    location /slow/ { alias $root/; limit_rate 256k; }
  }
}
CONF
    if /usr/sbin/nginx -p "$state" -c "$state/nginx.conf" 2>/dev/null; then
      for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && break
        sleep 0.1
      done
      echo "http://127.0.0.1:$port/"
      exit 0
    fi
    done
    echo "nginx-serve: nginx would not start (see $state/logs/error.log)" >&2
    exit 1
    ;;
  stop)
    state=${2:?state folder}
    if [ -f "$state/nginx.pid" ]; then
      kill "$(cat "$state/nginx.pid")" 2>/dev/null || true
      rm -f "$state/nginx.pid"
    fi
    ;;
  *) echo "usage: $0 start DIR STATE_DIR [LIMIT_RATE] | stop STATE_DIR" >&2; exit 1 ;;
esac
