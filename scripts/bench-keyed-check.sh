#!/usr/bin/env bash
# What a launcher with keys pays for checking the game's programs at every
# start: the real LauncherKeyed.exe (under Wine, with its window) against
# nginx on loopback, with the same install and content served to the launcher
# without keys (which trusts its record for every file) as the peer measured
# in the same run. Prints figures and ratios; it is not a test and fails only
# when something does not run.
#
#   scripts/bench-keyed-check.sh      (RQ_BENCH_RUNS=3 runs per figure, median)
#
# The install: TOLVANE.EXE of 64 MiB (the stand-in game with data appended,
# which still runs), 32 libraries of 4 MiB, 16 data files of 32 MiB. The time
# of a run is from the launcher's start to the game's start; the checking is
# also taken from the launcher's own log line "LAUNCHER CHECK : ... ms".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${RQ_BENCH_RUNS:-3}
bench=${RQ_BENCH_DIR:-$root/out/bench-keyed}

scripts/install-deps.sh
echo "== building"
cmake --preset windows >/dev/null &&
  cmake --build --preset windows --target Launcher LauncherKeyed TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch logdump >/dev/null
mkpatch=$root/build/linux/bin/mkpatch
logdump=$root/build/linux/bin/logdump

# ---- the game and its two content folders: made once
if [ ! -f "$bench/.made" ]; then
  rm -rf "$bench"
  mkdir -p "$bench/game/bin" "$bench/game/data" "$bench/www"
  { cat build/windows/bin/TOLVANE.exe; head -c $((64 * 1024 * 1024)) /dev/urandom; } > "$bench/game/TOLVANE.EXE"
  for i in $(seq -w 1 32); do head -c $((4 * 1024 * 1024)) /dev/urandom > "$bench/game/bin/lib$i.dll"; done
  for i in $(seq -w 1 16); do head -c $((32 * 1024 * 1024)) /dev/urandom > "$bench/game/data/pack$i.pak"; done
  "$mkpatch" --quiet --content "$bench/www/plain" --output "$bench/plain.lua" "$bench/game"
  "$mkpatch" --quiet --sign tests/fixtures/keys/test-release.key --release 1 --content "$bench/www/keyed" \
    --output "$bench/keyed.lua" "$bench/game"
  touch "$bench/.made"
fi

url=$(scripts/nginx-serve.sh start "$bench/www" "$bench/nginx")
trap 'scripts/nginx-serve.sh stop "$bench/nginx"' EXIT
. scripts/wine-env.sh
rq_wine_ready

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.2f", a / b }'; }
evict() { sync; find "$1" -type f -exec dd if={} iflag=nocache count=0 status=none \; ; }

# An install of the kind (plain or keyed): the game and that launcher.
install() {
  local kind=$1 dir=$bench/install-$1
  rm -rf "$dir"
  mkdir -p "$dir"
  if [ "$kind" = keyed ]; then cp build/windows/bin/LauncherKeyed.exe "$dir/Launcher.exe"; else
    cp build/windows/bin/Launcher.exe "$dir/Launcher.exe"; fi
}

# One start in install KIND; sets run_s and check_ms.
run_launcher() {
  local kind=$1 dir=$bench/install-$1
  rm -rf "$dir/Log" "$dir/TOLVANE_CMDLINE.txt"
  local t0 t1
  t0=$(now)
  (cd "$dir" && LC_ALL=ja_JP.UTF-8 exec wine Launcher.exe _C "$url$kind/" >/dev/null 2>&1) &
  local pid=$!
  for _ in $(seq 60000); do
    [ -e "$dir/TOLVANE_CMDLINE.txt" ] && break
    kill -0 "$pid" 2>/dev/null || { [ -e "$dir/TOLVANE_CMDLINE.txt" ] && break
      echo "bench-keyed-check: the $kind launcher ended without starting the game" >&2; exit 1; }
    sleep 0.005
  done
  t1=$(now)
  wait "$pid" || true
  run_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  check_ms=$("$logdump" "$dir"/Log/*.log | sed -n 's/.*LAUNCHER CHECK : .*, \([0-9]*\) ms.*/\1/p' | tail -n 1)
  check_ms=${check_ms:-0}
}

# KIND COLD(1|0): medians of $runs starts of an up-to-date install.
measure() {
  local kind=$1 cold=$2 all_s="" all_ms=""
  for _ in $(seq "$runs"); do
    if [ "$cold" = 1 ]; then evict "$bench/install-$kind"; fi
    run_launcher "$kind"
    all_s="$all_s$run_s"$'\n'
    all_ms="$all_ms$check_ms"$'\n'
  done
  med_s=$(printf '%s' "$all_s" | median)
  med_ms=$(printf '%s' "$all_ms" | median)
}

exe_mib=$(find "$bench/game" -type f \( -iname '*.exe' -o -iname '*.dll' \) -printf '%s\n' |
  awk '{ s += $1 } END { printf "%.0f", s / 1048576 }')
all_mib=$(find "$bench/game" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s / 1048576 }')
echo "== the install: $all_mib MiB, of which $exe_mib MiB in TOLVANE.EXE and 32 libraries ($runs runs, medians)"

echo "== first run: everything fetched (the keyed launcher hashes each part as it lies on the disk)"
all_p="" all_k=""
for _ in $(seq "$runs"); do
  install plain; run_launcher plain; all_p="$all_p$run_s"$'\n'
  install keyed; run_launcher keyed; all_k="$all_k$run_s"$'\n'
done
first_p=$(printf '%s' "$all_p" | median)
first_k=$(printf '%s' "$all_k" | median)
echo "without keys: $first_p s; with keys: $first_k s; keyed/plain = $(ratio "$first_k" "$first_p")"

echo "== later starts, nothing changed, page cache warm"
measure plain 0; warm_p_s=$med_s; warm_p_ms=$med_ms
measure keyed 0; warm_k_s=$med_s; warm_k_ms=$med_ms
echo "without keys: start to game $warm_p_s s, checking $warm_p_ms ms (every file by the record)"
echo "with keys:    start to game $warm_k_s s, checking $warm_k_ms ms ($exe_mib MiB of programs read and hashed)"
echo "checking keyed/plain = $(ratio "$warm_k_ms" "$warm_p_ms"); start to game keyed/plain = $(ratio "$warm_k_s" "$warm_p_s")"

echo "== later starts, nothing changed, page cache evicted before each start"
measure plain 1; cold_p_s=$med_s; cold_p_ms=$med_ms
measure keyed 1; cold_k_s=$med_s; cold_k_ms=$med_ms
echo "without keys: start to game $cold_p_s s, checking $cold_p_ms ms"
echo "with keys:    start to game $cold_k_s s, checking $cold_k_ms ms"
echo "checking keyed/plain = $(ratio "$cold_k_ms" "$cold_p_ms"); start to game keyed/plain = $(ratio "$cold_k_s" "$cold_p_s")"
