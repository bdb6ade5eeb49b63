#!/usr/bin/env bash
# How long the real Launcher.exe (under Wine, with its window) takes to check
# an up-to-date install, served by nginx on loopback, with rhash as the peer
# measured in the same run. Prints figures and ratios; it is not a test and
# fails only when something does not run.
#
#   scripts/bench-check.sh            (RQ_BENCH_RUNS=3 runs per figure, median)
#   RQ_BENCH_LAUNCHER_EXE=... scripts/bench-check.sh   (another build of the launcher)
#
# The install's files are evicted from the page cache before every cold run
# (dd iflag=nocache count=0, which is posix_fadvise(POSIX_FADV_DONTNEED)).
# The time of a run is from the launcher's start to the game's start (the
# stand-in TOLVANE.EXE writing its command line); a run with nothing listed
# gives the part that is not checking (Wine's start, the script's download,
# the window's one-second start timer). The checking itself is also taken
# from the launcher's own log line "LAUNCHER CHECK : ... ms".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${RQ_BENCH_RUNS:-3}
bench=${RQ_BENCH_DIR:-$root/out/bench-check}

scripts/install-deps.sh
echo "== building"
cmake --preset windows >/dev/null && cmake --build --preset windows --target Launcher TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch logdump >/dev/null
mkpatch=$root/build/linux/bin/mkpatch
logdump=$root/build/linux/bin/logdump

# ---- the installs: made once, kept for later runs of the benchmark
make_install() {  # NAME: fills $bench/NAME/game (the install) and $bench/www/NAME (the server's copy)
  local name=$1 game=$bench/$1/game
  [ -f "$bench/$name/.made" ] && return 0
  rm -rf "$bench/$name" "$bench/www/$name"
  mkdir -p "$game" "$bench/www/$name"
  cp build/windows/bin/TOLVANE.exe "$game/TOLVANE.EXE"
  case $name in
    big)  # 2 GiB in 48 files: 16 of 8 MiB, 16 of 32 MiB, 16 of 88 MiB
      mkdir -p "$game/data"
      for i in $(seq -w 1 48); do
        local n=$((10#$i)) mib
        mib=$((n <= 16 ? 8 : (n <= 32 ? 32 : 88)))
        head -c $((mib * 1024 * 1024)) /dev/urandom > "$game/data/pack$i.pak"
      done
      ;;
    small)  # 20 000 files of 4 KiB to 5 KiB in 100 folders
      for d in $(seq -w 0 99); do
        mkdir -p "$game/data/d$d"
        # Names differ across folders too: the script keys its entries by name.
        head -c $((200 * 4321)) /dev/urandom | split -b 4321 -a 3 -d - "$game/data/d$d/f${d}_"
      done
      ;;
    empty) ;;  # nothing listed; the game is there all the same
  esac
  if [ "$name" = empty ]; then
    printf 'CODE_TABLE = {}\n' > "$bench/www/$name/PATCHER_CODE.LUA"
  else
    "$mkpatch" --quiet --output "$bench/www/$name/PATCHER_CODE.LUA" "$game"
  fi
  cp build/windows/bin/Launcher.exe "$game/"
  sync
  touch "$bench/$name/.made"
}
echo "== installs in $bench (made once)"
for name in empty big small; do make_install "$name"; done
# The launcher under test is the one just built, unless another is named.
launcher_exe=${RQ_BENCH_LAUNCHER_EXE:-build/windows/bin/Launcher.exe}
echo "== the launcher: $launcher_exe"
for name in empty big small; do cp "$launcher_exe" "$bench/$name/game/Launcher.exe"; done

url=$(scripts/nginx-serve.sh start "$bench/www" "$bench/nginx")
trap 'scripts/nginx-serve.sh stop "$bench/nginx"' EXIT
. scripts/wine-env.sh
rq_wine_ready

evict() {  # every file of the folder leaves the page cache
  find "$1" -type f -exec dd if={} iflag=nocache count=0 status=none \;
}
warm() {
  find "$1" -type f -print0 | xargs -0 cat > /dev/null
}
now() { date +%s.%N; }

# One start of the launcher in install NAME with extra arguments; sets
# run_s (start to game start) and check_ms (from the launcher's log).
run_launcher() {
  local name=$1; shift
  local game=$bench/$name/game
  rm -rf "$game/Log" "$game/TOLVANE_CMDLINE.txt"
  local t0 t1
  t0=$(now)
  (cd "$game" && LC_ALL=ja_JP.UTF-8 exec wine Launcher.exe "$@" _C "$url$name/" >/dev/null 2>&1) &
  local pid=$!
  for _ in $(seq 30000); do
    [ -e "$game/TOLVANE_CMDLINE.txt" ] && break
    kill -0 "$pid" 2>/dev/null || { [ -e "$game/TOLVANE_CMDLINE.txt" ] && break; echo "bench-check: the launcher ended without starting the game" >&2; exit 1; }
    sleep 0.005
  done
  t1=$(now)
  wait "$pid" || true
  run_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  check_ms=$("$logdump" "$game"/Log/*.log | sed -n 's/.*LAUNCHER CHECK : .*, \([0-9]*\) ms.*/\1/p' | tail -n 1)
  check_ms=${check_ms:-0}
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# NAME COLD(1|0) FORGET(1|0) ARGS...: medians of $runs starts into med_s and med_ms.
measure() {
  local name=$1 cold=$2 forget=$3; shift 3
  local all_s="" all_ms=""
  for _ in $(seq "$runs"); do
    if [ "$forget" = 1 ]; then rm -f "$bench/$name/game/LAUNCHER_VERIFIED.DAT"; fi
    if [ "$cold" = 1 ]; then evict "$bench/$name/game"; else warm "$bench/$name/game"; fi
    run_launcher "$name" "$@"
    all_s="$all_s$run_s"$'\n'
    all_ms="$all_ms$check_ms"$'\n'
  done
  med_s=$(printf '%s' "$all_s" | median)
  med_ms=$(printf '%s' "$all_ms" | median)
}

big_bytes=$(find "$bench/big/game/data" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
gib=$(awk -v b="$big_bytes" 'BEGIN { printf "%.3f", b / 2^30 }')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.2f", a / b }'; }
rate() { awk -v g="$1" -v ms="$2" 'BEGIN { if (ms == 0) print "n/a"; else printf "%.2f", g / (ms / 1000) }'; }

echo "== the peers ($runs runs each, medians)"
all=""
for _ in $(seq "$runs"); do
  evict "$bench/big/game/data"
  t0=$(now)
  while IFS= read -r -d '' f; do dd if="$f" of=/dev/null bs=4M status=none; done \
    < <(find "$bench/big/game/data" -type f -print0 | sort -z)
  t1=$(now)
  all="$all$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"$'\n'
done
disk_s=$(printf '%s' "$all" | median)
disk_rate=$(awk -v g="$gib" -v s="$disk_s" 'BEGIN { printf "%.2f", g / s }')
echo "disk, sequential read of the big install cold (dd bs=4M): $disk_s s, $disk_rate GiB/s"
# The launcher reads two files at once; what the disk gives two readers:
all=""
for _ in $(seq "$runs"); do
  evict "$bench/big/game/data"
  t0=$(now)
  for half in 0 1; do
    find "$bench/big/game/data" -type f | sort | awk -v h=$half 'NR % 2 == h' |
      while IFS= read -r f; do dd if="$f" of=/dev/null bs=4M status=none; done &
  done
  wait
  t1=$(now)
  all="$all$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"$'\n'
done
disk2_s=$(printf '%s' "$all" | median)
disk2_rate=$(awk -v g="$gib" -v s="$disk2_s" 'BEGIN { printf "%.2f", g / s }')
echo "disk, two such readers at once: $disk2_s s, $disk2_rate GiB/s"
warm "$bench/big/game/data"
all=""
for _ in $(seq "$runs"); do
  t0=$(now); (cd "$bench/big/game" && rhash --crc32 -r data > /dev/null); t1=$(now)
  all="$all$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"$'\n'
done
rhash_s=$(printf '%s' "$all" | median)
rhash_rate=$(awk -v g="$gib" -v s="$rhash_s" 'BEGIN { printf "%.2f", g / s }')
echo "rhash --crc32 of the big install warm: $rhash_s s, $rhash_rate GiB/s"

echo "== Launcher.exe: 2 GiB in 48 files ($gib GiB), page cache evicted before each start"
measure empty 1 0;           empty_cold_s=$med_s
measure big 1 1;             first_s=$med_s; first_ms=$med_ms
measure big 1 0;             second_s=$med_s; second_ms=$med_ms
echo "nothing listed:              start to game start $empty_cold_s s"
echo "first run (no record):       start to game start $first_s s, checking $first_ms ms ($(rate "$gib" "$first_ms") GiB/s)"
echo "second run (record):         start to game start $second_s s, checking $second_ms ms"
first_check=$(awk -v a="$first_s" -v b="$empty_cold_s" 'BEGIN { print a - b }')
second_check=$(awk -v a="$second_s" -v b="$empty_cold_s" 'BEGIN { print a - b }')
echo "checking (minus nothing listed): first $first_check s, second $second_check s;" \
     "second/first = $(ratio "$second_check" "$first_check") (goal: at most 0.15)"
echo "checking by the log: first $first_ms ms, second $second_ms ms; second/first = $(ratio "$second_ms" "$first_ms")"
echo "cold reading: launcher $(rate "$gib" "$first_ms") GiB/s against the disk's $disk_rate GiB/s:" \
     "$(ratio "$(rate "$gib" "$first_ms")" "$disk_rate") x (goal: at least 0.8);" \
     "against two readers' $disk2_rate GiB/s: $(ratio "$(rate "$gib" "$first_ms")" "$disk2_rate") x"

echo "== Launcher.exe _REPAIR and a first run (no record): the same files, page cache warm"
measure empty 0 0;             empty_warm_s=$med_s
measure big 0 0 _REPAIR;       repair_s=$med_s; repair_ms=$med_ms
measure big 0 1;               warm_first_s=$med_s; warm_first_ms=$med_ms
repair_rate=$(rate "$gib" "$repair_ms")
echo "nothing listed: $empty_warm_s s; repair: $repair_s s, checking $repair_ms ms ($repair_rate GiB/s)"
echo "warm reading: launcher $repair_rate GiB/s against rhash's $rhash_rate GiB/s:" \
     "$(ratio "$repair_rate" "$rhash_rate") x (goal: at least 3)"
# By the wall clock: everything the check costs, whether the log counts it or not.
warm_first_check=$(awk -v a="$warm_first_s" -v b="$empty_warm_s" 'BEGIN { printf "%.3f", a - b }')
echo "first run, warm: start to game start $warm_first_s s; checking $warm_first_check s beyond nothing" \
     "listed, $warm_first_ms ms by the log; rhash $rhash_s s: $(ratio "$rhash_s" "$warm_first_check") x" \
     "faster (goal: at least 3)"

echo "== Launcher.exe: 20 000 small files, page cache warm"
measure small 0 1;             small_first_s=$med_s; small_first_ms=$med_ms
measure small 0 0;             small_second_s=$med_s; small_second_ms=$med_ms
echo "first run (no record):  start to game start $small_first_s s, checking $small_first_ms ms"
echo "second run (record):    start to game start $small_second_s s, checking $small_second_ms ms"
echo "second run's checking: $(awk -v a="$small_second_s" -v b="$empty_warm_s" 'BEGIN { printf "%.3f", a - b }') s" \
     "beyond nothing listed, $small_second_ms ms by the log (goal: under 1 s)"
