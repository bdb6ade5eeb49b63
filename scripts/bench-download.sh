#!/usr/bin/env bash
# Download benchmark: the launcher's update worker with its WinINet client
# (under Wine) against nginx on loopback, beside curl fetching the same files
# sequentially over one connection in the same run.
#   scripts/bench-download.sh [BIG_MIB [FILES [FILE_KIB [RUNS]]]]   (defaults 512 2000 32 3)
# The big file's figures, the launcher's and curl's, are medians of RUNS runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
big_mib=${1:-512}
files=${2:-2000}
file_kib=${3:-32}
runs=${4:-3}

cmake --preset windows >/dev/null
cmake --build --preset windows --target download_bench >/dev/null

state="$root/build/windows/bench"
rm -rf "$state"
mkdir -p "$state/work" "$state/curl"
scripts/nginx-fixture.sh start "$state" >/dev/null
trap 'scripts/nginx-fixture.sh stop "$state"' EXIT
url=$(cat "$state/url")

. scripts/wine-env.sh
rq_wine_ready
work_win="Z:$(echo "$state/work" | tr / '\\')"

echo "== launcher (Wine, WinINet) against nginx at $url"
out=$(scripts/nginx-fixture.sh run "$state" wine build/windows/bin/download_bench.exe "$work_win" \
        "$big_mib" "$files" "$file_kib" "$runs" | tr -d '\r')
val() { echo "$out" | sed -n "s/^$1=//p"; }

echo "== curl, same files, one connection"
now() { date +%s.%N; }
big_times=()
for _ in $(seq "$runs"); do
  rm -f "$state/curl/big.pak"
  a=$(now)
  curl -sS --fail -o "$state/curl/big.pak" "${url}big/big.pak"
  b=$(now)
  big_times+=("$(awk -v a="$a" -v b="$b" 'BEGIN { print b - a }')")
done
curl_big_s=$(printf '%s\n' "${big_times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
{
  while read -r rel; do
    printf 'url = "%s%s"\noutput = "%s/curl/%s"\n' "$url" "$rel" "$state" "$rel"
  done < <(tr -d '\r' < "$state/work/many-urls.txt")
} > "$state/curl.cfg"
t2=$(now)
curl -sS --fail --create-dirs -K "$state/curl.cfg"
t3=$(now)

cmp -s "$state/curl/big.pak" "$state/work/install-big/big.pak" || { echo "bench: big file differs" >&2; exit 1; }

awk -v mib="$big_mib" -v files="$files" -v kib="$file_kib" \
    -v cbs="$curl_big_s" -v cm0="$t2" -v cm1="$t3" \
    -v bare="$(val big_bare_MBps)" -v tr="$(val big_transfer_MBps)" -v upd="$(val big_update_MBps)" \
    -v bsp="$(val big_size_pass_s)" \
    -v mfps="$(val many_update_fps)" -v mtfps="$(val many_transfer_fps)" \
    -v ms="$(val many_update_s)" -v msp="$(val many_size_pass_s)" -v mt="$(val many_transfer_s)" \
    -v peak="$(val peak_working_set_mib)" -v creq="$(val counted_requests)" -v ccon="$(val counted_connections)" \
    -v csp="$(val counted_size_pass_s)" -v ctr="$(val counted_transfer_s)" -v ok1="$(val big_update_ok)" -v ok2="$(val many_update_ok)" '
BEGIN {
  curl_mbps = mib * 1.048576 / cbs
  curl_fps = files / (cm1 - cm0)
  printf "\n%-46s %12s %12s %8s\n", "", "launcher", "curl", "ratio"
  printf "%-46s %12.0f %12.0f %8.2f\n", "one " mib " MiB file, MB/s (downloader alone)", bare, curl_mbps, bare / curl_mbps
  printf "%-46s %12.0f %12.0f %8.2f\n", "one " mib " MiB file, MB/s (transfer pass)", tr, curl_mbps, tr / curl_mbps
  printf "%-46s %12.0f %12.0f %8.2f\n", "one " mib " MiB file, MB/s (whole update)", upd, curl_mbps, upd / curl_mbps
  printf "%-46s %12.0f %12.0f %8.2f\n", files " files of " kib " KiB, files/s (transfer pass)", mtfps, curl_fps, mtfps / curl_fps
  printf "%-46s %12.0f %12.0f %8.2f\n", files " files of " kib " KiB, files/s (whole update)", mfps, curl_fps, mfps / curl_fps
  printf "\nwhole update of %d files: %.2f s = size pass %.2f s + transfer pass %.2f s + script and checks %.2f s\n", files, ms, msp, mt, ms - msp - mt
  printf "size pass of the big file: %.3f s\n", bsp
  printf "per file: size pass %.2f ms, transfer %.2f ms (curl %.2f ms)\n", 1000 * msp / files, 1000 * mt / files, 1000 * (cm1 - cm0) / files
  printf "launcher peak working set: %.1f MiB\n", peak
  printf "same update from the test server: %d requests over %d connections (size pass %.2f s, transfer pass %.2f s)\n", creq, ccon, csp, ctr
  if (ok1 != 1 || ok2 != 1) { print "bench: an update did not complete" > "/dev/stderr"; exit 1 }
}'
