#!/usr/bin/env bash
# Whole updates by the real Launcher.exe (under Wine, with its window) from
# nginx on loopback, beside curl fetching the same files in the same run:
#   - FILES files of FILE_KIB KiB, with 0, 20 and 50 ms of latency per request
#     (a loopback proxy): the launcher, curl one file after another over one
#     connection, and curl --parallel with as many connections as the launcher;
#   - one BIG_MIB MiB file, straight from nginx;
#   - the same file with the line dropped halfway: the bytes nginx sent in all;
#   - a patch day: STORM_FILES files of STORM_KIB KiB behind a proxy that
#     answers every file request 503 with "Retry-After: STORM_RETRY_AFTER" for
#     STORM_SECONDS, then serves STORM_AT_ONCE requests at once and refuses the
#     rest: the requests sent during the storm, the share refused after it and
#     the time from its end to the game's start, for this launcher and for
#     today's (the one built from the commit this branch started from, or
#     RQ_BENCH_BASELINE_EXE).
# Each launcher figure has the time of an update with nothing to fetch taken
# off (start-up, the script, the game start). Prints figures and ratios; the
# goals are printed beside them, they do not make the script fail.
#   scripts/bench-update.sh [FILES [FILE_KIB [BIG_MIB [RUNS [PARALLEL]]]]]   (2000 32 512 3 "4 8")
# PARALLEL may list several values (quoted, blank-separated): each is measured
# in the same run, beside curl --parallel with as many connections.
# RQ_BENCH_DELAYS lists the latencies in ms ("0 20 50").
# The storm: STORM_FILES (100), STORM_KIB (256), STORM_SECONDS (20),
# STORM_RETRY_AFTER (5), STORM_AT_ONCE (2); RQ_BENCH_STORM=0 leaves it out.
# Today's launcher: RQ_BENCH_BASELINE_EXE, else built once from
# RQ_BENCH_BASELINE_REF (the merge base with main) into build/bench-baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${1:-2000}
file_kib=${2:-32}
big_mib=${3:-512}
runs=${4:-3}
parallel_list=${5:-4 8}
delays=${RQ_BENCH_DELAYS:-0 20 50}
storm_files=${STORM_FILES:-100}
storm_kib=${STORM_KIB:-256}
storm_seconds=${STORM_SECONDS:-20}
storm_retry_after=${STORM_RETRY_AFTER:-5}
storm_at_once=${STORM_AT_ONCE:-2}
with_storm=${RQ_BENCH_STORM:-1}
# The big file and the cut go with the first value.
parallel=${parallel_list%% *}

for need in curl:curl nginx:nginx-light wine:wine; do
  command -v "${need%%:*}" >/dev/null 2>&1 || [ -x "/usr/sbin/${need%%:*}" ] ||
    { echo "bench-update: needs ${need%%:*} (package ${need#*:}; scripts/install-deps.sh installs it)" >&2; exit 1; }
done
cmake --preset windows >/dev/null && cmake --build --preset windows --target Launcher TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch logdump latency_proxy storm_proxy >/dev/null

# Today's launcher, for the storm: given, or built once per commit from a
# temporary checkout (only the Launcher target; the finished libcrypto of this
# tree is lent to it).
baseline_exe=${RQ_BENCH_BASELINE_EXE:-}
baseline_what="RQ_BENCH_BASELINE_EXE=$baseline_exe"
if [ "$with_storm" = 1 ] && [ -z "$baseline_exe" ]; then
  base_ref=${RQ_BENCH_BASELINE_REF:-$(git merge-base HEAD main)}
  base_commit=$(git rev-parse --verify "$base_ref^{commit}")
  base_dir="$root/build/bench-baseline/$base_commit"
  baseline_exe="$base_dir/Launcher.exe"
  baseline_what="built from $base_commit"
  if [ ! -f "$baseline_exe" ]; then
    echo "== building today's launcher from $base_commit (once)"
    ssl=$(sed -n 's/^RQ_OPENSSL_PREBUILT:PATH=//p' build/windows/CMakeCache.txt)
    [ -n "$ssl" ] || ssl="$root/build/windows/openssl"
    checkout="$root/build/bench-baseline/checkout"
    rm -rf "$checkout" "$base_dir.build"
    # --force: a checkout that an interrupted run left registered is taken over.
    git worktree add --force --detach "$checkout" "$base_commit" >/dev/null 2>&1
    ln -s "$root/.deps" "$checkout/.deps"
    built=0
    (cd "$checkout" && cmake --preset windows -B "$base_dir.build" -DRQ_OPENSSL_PREBUILT="$ssl" >/dev/null &&
      cmake --build "$base_dir.build" --target Launcher >/dev/null) && built=1
    git worktree remove --force "$checkout"
    [ "$built" = 1 ] || { echo "bench-update: today's launcher did not build" >&2; exit 1; }
    mkdir -p "$base_dir"
    cp "$base_dir.build/bin/Launcher.exe" "$baseline_exe"
    rm -rf "$base_dir.build"
  fi
fi

state="$root/build/bench-update"
rm -rf "$state"
mkdir -p "$state/content/many" "$state/content/big" "$state/content/none" "$state/build/many" "$state/build/big" \
  "$state/build/storm"
echo "== content: $files files of $file_kib KiB, one file of $big_mib MiB"
for i in $(seq 0 $((files - 1))); do
  d="$state/build/many/d$((i % 20))"
  mkdir -p "$d"
  head -c $((file_kib * 1024)) /dev/urandom > "$d/f$i.dat"
done
head -c $((big_mib * 1024 * 1024)) /dev/urandom > "$state/build/big/big.pak"
for i in $(seq 0 $((storm_files - 1))); do
  head -c $((storm_kib * 1024)) /dev/urandom > "$state/build/storm/s$i.dat"
done
mkdir -p "$state/build/none"
for set in many big none storm; do
  build/linux/bin/mkpatch --quiet --no-delta --content "$state/content/$set" --output "$state/$set.lua" "$state/build/$set"
done
(cd "$state/content/many" && find . -type f ! -name PATCHER_CODE.LUA | sed 's|^\./||') > "$state/many-paths.txt"

url=$(scripts/nginx-serve.sh start "$state/content" "$state/nginx")
port=$(echo "$url" | sed 's|.*:\([0-9]*\)/|\1|')
proxy_pid=""
launcher_pid=""
cleanup() {
  if [ -n "$launcher_pid" ]; then kill "$launcher_pid" 2>/dev/null || true; fi
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; fi
  scripts/nginx-serve.sh stop "$state/nginx"
}
trap cleanup EXIT

. scripts/wine-env.sh
rq_wine_ready
now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One launcher run into a fresh install: the seconds from start to exit.
launcher_run() {  # BASE_URL [PARALLEL [LAUNCHER_EXE]]
  local install="$state/install" n=${2:-$parallel} exe=${3:-build/windows/bin/Launcher.exe}
  rm -rf "$install"
  mkdir -p "$install"
  cp "$exe" "$install/Launcher.exe"
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

printf '\n%-52s %10s %10s %10s %8s %8s\n' "$files files of $file_kib KiB (medians)" "launcher" "curl 1x1" "curl ||N" \
  "l/1x1" "l/||"
goal_small=""
for delay in $delays; do
  start_proxy "$delay"
  for n in $parallel_list; do
    seq_times=()
    l_times=()
    par_times=()
    # Interleaved, so that a busy moment of the machine falls on all three.
    for _ in $(seq "$runs"); do
      seq_times+=("$(curl_many "$purl")")
      l_times+=("$(launcher_run "${purl}many/" "$n")")
      par_times+=("$(curl_many "$purl" --parallel --parallel-max "$n")")
    done
    t_seq=$(printf '%s\n' "${seq_times[@]}" | median)
    t_l=$(printf '%s\n' "${l_times[@]}" | median)
    t_par=$(printf '%s\n' "${par_times[@]}" | median)
    row=$(awk -v d="$delay" -v k="$n" -v l="$t_l" -v z="$t_none" -v s="$t_seq" -v p="$t_par" 'BEGIN {
      net = l - z; if (net < 0.001) net = 0.001
      printf "%-52s %9.2fs %9.2fs %9.2fs %8.2f %8.2f\n", d " ms per request, N = " k " (launcher net of start-up)",
             net, s, p, net / s, net / p }')
    echo "$row"
    if [ "$delay" = 0 ]; then
      goal_small=$(awk -v k="$n" -v f="$files" -v kib="$file_kib" -v l="$t_l" -v z="$t_none" -v s="$t_seq" 'BEGIN {
        net = l - z; if (net < 0.001) net = 0.001
        printf "%d files of %d KiB at 0 ms, N = %d: launcher %.2f s, curl one after another %.2f s: %.2f x (goal: at most 1.5)",
               f, kib, k, net, s, net / s }')
    fi
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
rm -f "$state/big.curl"
t_big=$(printf '%s\n' "${big_times[@]}" | median)
t_curl=$(printf '%s\n' "${curl_times[@]}" | median)
goal_big=$(awk -v mib="$big_mib" -v l="$t_big" -v n="$t_none" -v c="$t_curl" 'BEGIN {
  net = l - n; if (net < 0.001) net = 0.001
  mb = mib * 1.048576
  printf "one %d MiB file: launcher %.0f MB/s (net of start-up; %.2f s in all), curl %.0f MB/s: %.2f x (goal: at least 0.9)",
         mib, mb / net, l, mb / c, (mb / net) / (mb / c) }')
printf '\n%s\n' "$goal_big"

: > "$state/nginx/logs/access.log"
kill -USR1 "$(cat "$state/nginx/nginx.pid")" 2>/dev/null || true
start_proxy 0 $((big_mib * 1024 * 1024 / 2))
launcher_run "${purl}big/" >/dev/null
sleep 0.5
sent=$(awk '$7 ~ /big\.pak$/ { s += $10 } END { print s + 0 }' "$state/nginx/logs/access.log")
awk -v s="$sent" -v mib="$big_mib" 'BEGIN {
  size = mib * 1048576
  printf "one %d MiB file cut at 50%%: nginx sent %.0f MiB in all, %.2f x the file\n", mib, s / 1048576, s / size }'
kill "$proxy_pid" 2>/dev/null || true
proxy_pid=""

# A patch day behind the storm proxy: one launcher run, until the game starts
# or the launcher gives up. A launcher that gave up waits in its failure box
# for the player: once the storm is over and no request has come for 30 s
# (or STORM_SECONDS + 180 s have passed), it is ended. Sets s_req (requests
# during the storm), s_share (the share refused after it) and s_after (from
# the storm's end to the game's start, "-" when the game did not start).
storm_run() {  # LAUNCHER_EXE
  local install="$state/install" stats="$state/storm.stats" a game_at="" now storm_end last
  rm -f "$state/proxy.port" "$stats"
  build/linux/bin/storm_proxy "$state/proxy.port" "$port" $((storm_seconds * 1000)) "$storm_retry_after" \
    "$storm_at_once" "$stats" >/dev/null 2>&1 </dev/null &
  proxy_pid=$!
  for _ in $(seq 50); do [ -s "$state/proxy.port" ] && break; sleep 0.1; done
  rm -rf "$install"
  mkdir -p "$install"
  cp "$1" "$install/Launcher.exe"
  cp build/windows/bin/TOLVANE.exe "$install/TOLVANE.EXE"
  printf '[DOWNLOAD]\r\nPARALLEL=8\r\n' > "$install/LOGIN_ADDRESS.LAD"
  a=$(date +%s)
  (cd "$install" && exec wine Launcher.exe _C "http://127.0.0.1:$(cat "$state/proxy.port")/storm/" >/dev/null 2>&1) &
  launcher_pid=$!
  while :; do
    if [ -f "$install/TOLVANE_CMDLINE.txt" ]; then
      game_at=$(date +%s.%N)
      break
    fi
    kill -0 "$launcher_pid" 2>/dev/null || break
    now=$(date +%s)
    storm_end=$(awk '$1 == "storm_end" { printf "%d", $2 }' "$stats")
    last=$(stat -c %Y "$stats")
    if [ "$storm_end" -gt 0 ] && [ "$now" -gt $((storm_end + 30)) ] && [ "$now" -gt $((last + 30)) ]; then
      break
    fi
    [ "$now" -lt $((a + storm_seconds + 180)) ] || break
    sleep 0.05
  done
  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
  kill "$proxy_pid" 2>/dev/null || true
  wait "$proxy_pid" 2>/dev/null || true
  proxy_pid=""
  read -r s_req s_share s_after <<<"$(awk -v g="$game_at" '{ v[$1] = $2 } END {
    after = v["served"] + v["refused"]
    share = after > 0 ? sprintf("%.1f%%(%d/%d)", 100 * v["refused"] / after, v["refused"], after) : "-"
    printf "%d %s %s\n", v["storm_requests"], share, g == "" ? "-" : sprintf("%.1f", g - v["storm_end"]) }' "$stats")"
}

if [ "$with_storm" = 1 ]; then
  echo
  echo "== patch day: $storm_files files of $storm_kib KiB; every file request answered 503 with" \
       "Retry-After: $storm_retry_after for $storm_seconds s, then $storm_at_once served at once and the rest refused"
  storm_run build/windows/bin/Launcher.exe
  new_req=$s_req new_share=$s_share new_after=$s_after
  storm_run "$baseline_exe"
  old_req=$s_req old_share=$s_share old_after=$s_after
  printf '%-44s %16s %16s\n' "" "this launcher" "today's"
  printf '%-44s %16s %16s\n' "requests sent during the storm" "$new_req" "$old_req"
  printf '%-44s %16s %16s\n' "share of requests refused after it (of all)" "$new_share" "$old_share"
  printf '%-44s %16s %16s\n' "end of the storm to the game's start (s)" "$new_after" "$old_after"
  echo "(\"-\": the game was not started: the launcher gave up; today's launcher: $baseline_what)"
fi

echo
echo "== goals"
echo "$goal_big"
echo "$goal_small"
echo "(median of $runs runs where repeated; nothing to fetch took $t_none s)"
