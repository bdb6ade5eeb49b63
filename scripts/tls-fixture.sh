#!/usr/bin/env bash
# The Windows tests' https server: nginx on loopback with certificates of a
# test authority made for the run (openssl), one server whose certificate
# names localhost and one whose certificate names another host.
#   tls-fixture.sh start STATE     make the authority and certificates, start nginx
#   tls-fixture.sh stop STATE      stop it
#   tls-fixture.sh run STATE CMD...
#       run CMD with RQ_TEST_HTTPS_URL, RQ_TEST_HTTPS_WRONG_HOST_URL (https://localhost:PORT/),
#       RQ_TEST_CA_PEM (the authority's certificate as Wine sees it, Z:\...) and
#       RQ_TEST_HTTPS_ROOT (the served folder as Wine sees it)
# Only the test that imports RQ_TEST_CA_PEM into its own Wine prefix trusts
# the authority; nothing of the host's trust changes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?command}
state=${2:?state folder}
mkdir -p "$state/www"
state=$(cd "$state" && pwd)
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

make_certificates() {
  local d="$state/pki"
  rm -rf "$d"
  mkdir -p "$d"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Launcher Test Authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$d/ca.key" -out "$d/ca.pem" 2>/dev/null
  for name in good wrong; do
    local san="DNS:localhost"
    [ "$name" = wrong ] && san="DNS:wrong-host.test"
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" -keyout "$d/$name.key" -out "$d/$name.csr" 2>/dev/null
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$san" > "$d/$name.ext"
    openssl x509 -req -in "$d/$name.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial -days 2 \
      -extfile "$d/$name.ext" -out "$d/$name.pem" 2>/dev/null
  done
}

case "$cmd" in
  start)
    "$here/tls-fixture.sh" stop "$state"
    # Wine resolves names through the system (curl knows localhost by itself,
    # so its check below would not notice): without an /etc/hosts entry the
    # launcher under test could not reach the server at all.
    if ! getent ahostsv4 localhost | grep -q '^127\.0\.0\.1'; then
      echo "tls-fixture: the name localhost does not resolve to 127.0.0.1 (add '127.0.0.1 localhost' to /etc/hosts)" >&2
      exit 1
    fi
    mkdir -p "$state/logs" "$state/tmp"
    user_line=""
    if [ "$(id -u)" -eq 0 ]; then user_line="user root root;"; fi
    for _try in $(seq 20); do
      good=$(shuf -i 20000-60999 -n 1)
      wrong=$((good + 1))
      make_certificates
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
  server {
    listen 127.0.0.1:$good ssl;
    ssl_certificate $state/pki/good.pem;
    ssl_certificate_key $state/pki/good.key;
    root $state/www;
    # A redirect that would hand the request over to plain http.
    location /to-http/ { return 302 http://localhost:$good/\$request_uri; }
  }
  server {
    listen 127.0.0.1:$wrong ssl;
    ssl_certificate $state/pki/wrong.pem;
    ssl_certificate_key $state/pki/wrong.key;
    root $state/www;
  }
}
CONF
      if /usr/sbin/nginx -p "$state" -c "$state/nginx.conf" 2>/dev/null; then
        for _ in $(seq 50); do
          curl -s -o /dev/null --cacert "$state/pki/ca.pem" "https://localhost:$good/" && break
          sleep 0.1
        done
        # By name: the certificate names the host as "localhost".
        echo "https://localhost:$good/" > "$state/url"
        echo "https://localhost:$wrong/" > "$state/wrong-url"
        echo "nginx (TLS) at $(cat "$state/url") and $(cat "$state/wrong-url") serving $state/www"
        exit 0
      fi
    done
    echo "tls-fixture: nginx would not start (see $state/logs/error.log)" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/nginx.pid" ]; then
      kill "$(cat "$state/nginx.pid")" 2>/dev/null || true
      rm -f "$state/nginx.pid"
    fi
    ;;
  run)
    shift 2
    RQ_TEST_HTTPS_URL=$(cat "$state/url")
    RQ_TEST_HTTPS_WRONG_HOST_URL=$(cat "$state/wrong-url")
    RQ_TEST_CA_PEM=$(winpath "$state/pki/ca.pem")
    RQ_TEST_HTTPS_ROOT=$(winpath "$state/www")
    export RQ_TEST_HTTPS_URL RQ_TEST_HTTPS_WRONG_HOST_URL RQ_TEST_CA_PEM RQ_TEST_HTTPS_ROOT
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop|run STATE [CMD...]" >&2
    exit 2
    ;;
esac
