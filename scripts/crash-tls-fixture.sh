#!/usr/bin/env bash
# The crash-report receiver behind nginx terminating TLS, on loopback, with a
# certificate authority made for the run (openssl) and the nginx configuration
# that the README shows (tools/crashreceiver/nginx-crash-reports.conf), with
# only its addresses and certificate paths replaced.
#   crash-tls-fixture.sh start STATE PORT   nginx on a free port, passing to a receiver
#                                           already listening on 127.0.0.1:PORT
#   crash-tls-fixture.sh stop STATE         stop it
#   crash-tls-fixture.sh run STATE CMD...
#       run CMD with RQ_TEST_CRASH_HTTPS_URL (https://localhost:N/reception_jpn/Default.aspx)
#       and RQ_TEST_CRASH_CA_PEM (the authority's certificate as Wine sees it, Z:\...)
# Files in STATE: url, pki/ca.pem (the authority, to trust in the client only),
# logs/. Nothing of the host's trust changes.
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

make_certificates() {
  local d="$state/pki"
  rm -rf "$d"
  mkdir -p "$d"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Crash Report Test Authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$d/ca.key" -out "$d/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$d/server.key" -out "$d/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$d/server.ext"
  openssl x509 -req -in "$d/server.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial -days 2 \
    -extfile "$d/server.ext" -out "$d/server.pem" 2>/dev/null
}

# The README's server block for this run; stops when a line it replaces has
# changed there, rather than start an nginx that tests something else.
site_config() {
  local port=$1 upstream=$2 example="$here/../tools/crashreceiver/nginx-crash-reports.conf"
  local line
  for line in 'listen 443 ssl;' 'server_name report.example.jp;' '/etc/ssl/crash-reports/fullchain.pem;' \
    '/etc/ssl/crash-reports/privkey.pem;' 'proxy_pass http://127.0.0.1:8080;'; do
    grep -qF "$line" "$example" || { echo "crash-tls-fixture: $example no longer has '$line'" >&2; exit 1; }
  done
  sed -e "s|listen 443 ssl;|listen 127.0.0.1:$port ssl;|" \
    -e "s|server_name report.example.jp;|server_name localhost;|" \
    -e "s|/etc/ssl/crash-reports/fullchain.pem;|$state/pki/server.pem;|" \
    -e "s|/etc/ssl/crash-reports/privkey.pem;|$state/pki/server.key;|" \
    -e "s|proxy_pass http://127.0.0.1:8080;|proxy_pass http://127.0.0.1:$upstream;|" "$example"
}

case "$cmd" in
  start)
    upstream=${3:?receiver port}
    rq_need nginx openssl curl setsid timeout shuf getent
    # Wine resolves names through the system (curl knows localhost by itself):
    # without this, a launcher under test could not reach the server at all.
    if ! getent ahostsv4 localhost | grep -q '^127\.0\.0\.1'; then
      echo "crash-tls-fixture: the name localhost does not resolve to 127.0.0.1 (add '127.0.0.1 localhost' to /etc/hosts)" >&2
      exit 1
    fi
    stop
    make_certificates
    mkdir -p "$state/logs" "$state/tmp"
    user_line=""
    if [ "$(id -u)" -eq 0 ]; then user_line="user root root;"; fi
    for _try in $(seq 20); do
      port=$(shuf -i 20000-60999 -n 1)
      site_config "$port" "$upstream" >"$state/crash-reports.conf"
      cat >"$state/nginx.conf" <<CONF
$user_line
daemon off;
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
  include $state/crash-reports.conf;
}
CONF
      # In the foreground under timeout: never outlives a test run that was cut short.
      setsid timeout 1800 /usr/sbin/nginx -p "$state" -c "$state/nginx.conf" >"$state/logs/nginx.out" 2>&1 </dev/null &
      echo $! >"$state/pid"
      for _ in $(seq 50); do
        kill -0 "$(cat "$state/pid")" 2>/dev/null || break
        if curl -s -o /dev/null --cacert "$state/pki/ca.pem" "https://localhost:$port/" 2>/dev/null; then
          # By name: the certificate names the host as "localhost".
          echo "https://localhost:$port/reception_jpn/Default.aspx" >"$state/url"
          echo "nginx (TLS) at https://localhost:$port/ in front of 127.0.0.1:$upstream"
          exit 0
        fi
        sleep 0.1
      done
      stop  # the port was taken, or nginx failed: try another
    done
    echo "crash-tls-fixture: nginx would not start (see $state/logs)" >&2
    exit 1
    ;;
  stop)
    stop
    ;;
  run)
    shift 2
    RQ_TEST_CRASH_HTTPS_URL=$(cat "$state/url")
    RQ_TEST_CRASH_CA_PEM="Z:$(echo "$state/pki/ca.pem" | tr / '\\')"
    export RQ_TEST_CRASH_HTTPS_URL RQ_TEST_CRASH_CA_PEM
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop|run STATE [PORT|CMD...]" >&2
    exit 2
    ;;
esac
