#!/usr/bin/env bash
# Whole updates by the real Launcher.exe (under Wine, with its window) from
# nginx on loopback, beside curl fetching the same files in the same run:
#   - FILES files of FILE_KIB KiB, with 0, 20 and 50 ms of latency per request
#     (a loopback proxy): the launcher, curl one file after another over one
#     connection, and curl --parallel with as many connections as the launcher;
#   - one BIG_MIB MiB file, straight from nginx;
#   - the same file with the line dropped halfway: the bytes nginx sent in all.
# Each launcher figure has the time of an update with nothing to fetch taken
# off (start-up, the script, the game start). Prints figures and ratios.
#   scripts/bench-update.sh [FILES [FILE_KIB [BIG_MIB [RUNS [PARALLEL]]]]]   (2000 32 512 3 "4 8")
# PARALLEL may list several values (quoted, blank-separated): each is measured
# in the same run, beside curl --parallel with as many connections.
# RQ_BENCH_DELAYS lists the latencies in ms ("0 20 50").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-2000}
file_kib=${2:-32}
big_mib=${3:-512}
runs=${4:-3}
parallel_list=${5:-4 8}
delays=${RQ_BENCH_DELAYS:-0 20 50}
# The big file and the cut go with the first value.
parallel=${parallel_list%% *}

for need in curl:curl nginx:nginx-light wine:wine; do
  command -v "${need%%:*}" >/dev/null 2>&1 || [ -x "/usr/sbin/${need%%:*}" ] ||
    { echo "bench-update: needs ${need%%:*} (package ${need#*:}; scripts/install-deps.sh installs it)" >&2; exit 1; }
done
cmake --preset windows >/dev/null && cmake --build --preset windows --target Launcher TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch latency_proxy >/dev/null

state="$root/build/bench-update"
rm -rf "$state"
mkdir -p "$state/content/many" "$state/content/big" "$state/content/none" "$state/build/many" "$state/build/big"
echo "== content: $files files of $file_kib KiB, one file of $big_mib MiB"
for i in $(seq 0 $((files - 1))); do
  d="$state/build/many/d$((i % 20))"
  mkdir -p "$d"
  head -c $((file_kib * 1024)) /dev/urandom > "$d/f$i.dat"
done
head -c $((big_mib * 1024 * 1024)) /dev/urandom > "$state/build/big/big.pak"
mkdir -p "$state/build/none"
for set in many big none; do
  build/linux/bin/mkpatch --quiet --content "$state/content/$set" --output "$state/$set.lua" "$state/build/$set"
done
(cd "$state/content/many" && find . -type f ! -name PATCHER_CODE.LUA | sed 's|^\./||') > "$state/many-paths.txt"

url=$(scripts/nginx-serve.sh start "$state/content" "$state/nginx")
port=$(echo "$url" | sed 's|.*:\([0-9]*\)/|\1|')
proxy_pid=""
cleanup() {
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; fi
  scripts/nginx-serve.sh stop "$state/nginx"
}
trap cleanup EXIT

. scripts/wine-env.sh
rq_wine_ready
now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One launcher run into a fresh install: the seconds from start to exit.
launcher_run() {  # BASE_URL [PARALLEL]
  local install="$state/install" n=${2:-$parallel}
  rm -rf "$install"
  mkdir -p "$install"
  cp build/windows/bin/Launcher.exe "$install/"
  cp build/windows/bin/TOLVANE.exe "$install/TOLVANE.EXE"
  printf '[DOWNLOAD]\r\nPARALLEL=%s\r\n' "$n" > "$install/LOGIN_ADDRESS.LAD"
  local a b
  a=$(now)
  (cd "$install" && wine Launcher.exe _C "$1" >/dev/null 2>&1)
  b=$(now)
  [ -f "$install/TOLVANE_CMDLINE.txt" ] || { echo "bench-update: the update from $1 did not end in the game" >&2; exit 1; }
  awk -v a="$a" -v b="$b" 'BEGIN { print b - a }'
}

# Sets purl to the proxy's base URL (not run in a subshell: the proxy must
# not hold its output open).
start_proxy() {  # DELAY_MS [CUT_AFTER]
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; fi
  rm -f "$state/proxy.port"
  build/linux/bin/latency_proxy "$state/proxy.port" "$port" "$@" >/dev/null 2>&1 </dev/null &
  proxy_pid=$!
  for _ in $(seq 50); do [ -s "$state/proxy.port" ] && break; sleep 0.1; done
  purl="http://127.0.0.1:$(cat "$state/proxy.port")/"
}

curl_many() {  # BASE_URL [--parallel ...]
  local base=$1
  shift
  sed "s|.*|url = \"${base}many/&\"\noutput = \"$state/curl/&\"|" "$state/many-paths.txt" > "$state/curl.cfg"
  rm -rf "$state/curl"
  local a b
  a=$(now)
  # --parallel draws a progress meter even when silent: keep only errors.
  curl -sS --fail --create-dirs "$@" -K "$state/curl.cfg" 2>"$state/curl.err" ||
    { cat "$state/curl.err" >&2; exit 1; }
  b=$(now)
  awk -v a="$a" -v b="$b" 'BEGIN { print b - a }'
}

echo "== nothing to fetch (start-up, script and game start)"
base_times=()
for _ in $(seq "$runs"); do base_times+=("$(launcher_run "${url}none/")"); done
t_none=$(printf '%s\n' "${base_times[@]}" | median)

printf '\n%-52s %10s %10s %10s %8s %8s\n' "$files files of $file_kib KiB" "launcher" "curl 1x1" "curl ||N" "l/1x1" "l/||"
for delay in $delays; do
  start_proxy "$delay"
  t_seq=$(curl_many "$purl")
  for n in $parallel_list; do
    t_l=$(launcher_run "${purl}many/" "$n")
    t_par=$(curl_many "$purl" --parallel --parallel-max "$n")
    awk -v d="$delay" -v k="$n" -v l="$t_l" -v z="$t_none" -v s="$t_seq" -v p="$t_par" 'BEGIN {
      net = l - z; if (net < 0.001) net = 0.001
      printf "%-52s %9.2fs %9.2fs %9.2fs %8.2f %8.2f\n", d " ms per request, N = " k " (launcher net of start-up)",
             net, s, p, net / s, net / p }'
  done
done
kill "$proxy_pid" 2>/dev/null || true
proxy_pid=""

big_times=()
curl_times=()
for _ in $(seq "$runs"); do
  big_times+=("$(launcher_run "${url}big/")")
  rm -f "$state/big.curl"
  a=$(now)
  curl -sS --fail -o "$state/big.curl" "${url}big/big.pak"
  b=$(now)
  curl_times+=("$(awk -v a="$a" -v b="$b" 'BEGIN { print b - a }')")
done
t_big=$(printf '%s\n' "${big_times[@]}" | median)
t_curl=$(printf '%s\n' "${curl_times[@]}" | median)
awk -v mib="$big_mib" -v l="$t_big" -v n="$t_none" -v c="$t_curl" 'BEGIN {
  net = l - n; if (net < 0.001) net = 0.001
  mb = mib * 1.048576
  printf "\none %d MiB file: launcher %.0f MB/s (net of start-up; %.2f s in all), curl %.0f MB/s, ratio %.2f\n",
         mib, mb / net, l, mb / c, (mb / net) / (mb / c) }'

: > "$state/nginx/logs/access.log"
kill -USR1 "$(cat "$state/nginx/nginx.pid")" 2>/dev/null || true
start_proxy 0 $((big_mib * 1024 * 1024 / 2))
launcher_run "${purl}big/" >/dev/null
sleep 0.5
sent=$(awk '$7 ~ /big\.pak$/ { s += $10 } END { print s + 0 }' "$state/nginx/logs/access.log")
awk -v s="$sent" -v mib="$big_mib" 'BEGIN {
  size = mib * 1048576
  printf "one %d MiB file cut at 50%%: nginx sent %.0f MiB in all, %.2f x the file\n", mib, s / 1048576, s / size }'
echo "(median of $runs runs where repeated; nothing to fetch took $t_none s)"
