#!/usr/bin/env bash
# A private nginx on a free loopback port, for the download tests and the
# benchmark: its configuration, pid, logs and served folder all live in one
# state folder.
#   nginx-fixture.sh start STATE   start it (STATE/www is the served folder)
#   nginx-fixture.sh stop STATE    stop it
#   nginx-fixture.sh run STATE CMD...
#       run CMD with RQ_TEST_BASE_URL (http://127.0.0.1:PORT/) and
#       RQ_TEST_CONTENT_ROOT (the served folder as Wine sees it, Z:\...)
set -euo pipefail

nginx_bin=${RQ_NGINX:-/usr/sbin/nginx}
cmd=${1:?command}
state=${2:?state folder}
mkdir -p "$state"
state=$(cd "$state" && pwd)

stop_nginx() {
  if [ -f "$state/nginx.pid" ]; then
    local pid
    pid=$(cat "$state/nginx.pid" 2>/dev/null || true)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -QUIT "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$state/nginx.pid"
  fi
}

write_conf() {
  cat >"$state/nginx.conf" <<CONF
daemon on;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 1024; }
http {
  types { }
  default_type application/octet-stream;
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  keepalive_timeout 60s;
  client_body_temp_path $state/tmp/body;
  proxy_temp_path $state/tmp/proxy;
  fastcgi_temp_path $state/tmp/fastcgi;
  uwsgi_temp_path $state/tmp/uwsgi;
  scgi_temp_path $state/tmp/scgi;
  server {
    listen 127.0.0.1:$1;
    root $state/www;
    location / { }
  }
}
CONF
}

case "$cmd" in
  start)
    stop_nginx
    mkdir -p "$state/www" "$state/tmp"
    for _ in $(seq 30); do
      port=$((20000 + RANDOM % 40000))
      write_conf "$port"
      if "$nginx_bin" -p "$state" -e "$state/error.log" -c "$state/nginx.conf" 2>>"$state/start.log"; then
        echo "$port" >"$state/port"
        echo "nginx on 127.0.0.1:$port serving $state/www"
        exit 0
      fi
    done
    echo "nginx-fixture: could not start nginx" >&2
    cat "$state/start.log" >&2 || true
    exit 1
    ;;
  stop)
    stop_nginx
    ;;
  run)
    shift 2
    port=$(cat "$state/port")
    export RQ_TEST_BASE_URL="http://127.0.0.1:$port/"
    export RQ_TEST_CONTENT_ROOT="Z:$(echo "$state/www" | tr / '\\')"
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop|run STATE [CMD...]" >&2
    exit 2
    ;;
esac
