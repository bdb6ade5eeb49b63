#!/usr/bin/env bash
# Delta updates by the real launcher (under Wine, with its window; built with
# keys, as players run it: LauncherKeyed.exe trusts the committed test key)
# from nginx on loopback, each release signed, for several kinds of change
# between two releases, beside
# Debian's zsync (given the same old files) and xdelta3 (a diff made with both
# versions at hand) in the same run. For each case it prints the bytes nginx
# sent the launcher, the bytes that changed, the whole-file bytes (what a
# launcher without delta updates fetches: the changed files' sizes), zsync's
# bytes (run on every file of the release: a file's control file is how zsync
# learns that it is current) and xdelta3's diff; then the time to the game start through a line of
# LINE_MBIT Mbit/s (a shaping proxy in front of nginx) against the goal
# 1.3 x (bytes sent / line rate) + reading the old files at the disk's speed.
#   scripts/bench-delta.sh [SCALE [LINE_MBIT]]   (1 100; SCALE multiplies the file sizes)
#   RQ_BENCH_CASES="scattered small_files" picks cases (the timing needs scattered);
#   RQ_BENCH_TIMING_RUNS (5) how many timed updates the median is taken of.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scale=${1:-1}
line_mbit=${2:-100}
. scripts/needs.sh
rq_need nginx wine zsync zsyncmake xdelta3 curl
cmake --preset windows >/dev/null && cmake --build --preset windows --target LauncherKeyed TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch line_shaper >/dev/null

state="$root/build/bench-delta"
rm -rf "$state"
mkdir -p "$state"
mib=$((1024 * 1024))
rnd() { head -c "$1" /dev/urandom; }
# Game text: lines of words, as compressible as dialogue and item tables are.
text() {  # BYTES SEED
  LC_ALL=C awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); split("the a sword shield 勇者 魔王 村 town quest gold potion of to and 王国 dragon ice fire item", w, " ");
    s = 0; while (s < n) { line = "ID_" int(rand() * 100000) " = \""; k = 4 + int(rand() * 10);
      for (i = 0; i < k; ++i) line = line w[1 + int(rand() * 19)] " "; line = line "\"\n";
      if (s + length(line) > n) line = substr(line, 1, n - s); printf "%s", line; s += length(line) } }'
}
# Overwrites LENGTH bytes at OFFSET with new random bytes.
patch_at() {  # FILE OFFSET LENGTH
  rnd "$3" | dd of="$1" bs=4096 seek="$2" oflag=seek_bytes conv=notrunc status=none
}

# Each case: an old release (old/) and a new one (new/) of its files, and
# the bytes that changed between them.
declare -A changed
make_case() {  # NAME
  local c="$state/$1"
  mkdir -p "$c/old" "$c/new"
  case $1 in
    scattered)  # edits spread over a large archive
      rnd $((256 * mib * scale)) >"$c/old/world.pak"
      cp "$c/old/world.pak" "$c/new/world.pak"
      local n=64 i
      for i in $(seq 0 $((n - 1))); do patch_at "$c/new/world.pak" $(((i * 4 * mib + 12345 * i) * scale)) 65536; done
      changed[$1]=$((n * 65536)) ;;
    insertion)  # bytes inserted in the middle of a file
      rnd $((128 * mib * scale)) >"$c/old/sound.pak"
      { head -c $((64 * mib * scale)) "$c/old/sound.pak"; rnd $((4 * mib)); tail -c +$((64 * mib * scale + 1)) "$c/old/sound.pak"; } >"$c/new/sound.pak"
      changed[$1]=$((4 * mib)) ;;
    append)  # data added at the end
      rnd $((64 * mib * scale)) >"$c/old/movie.pak"
      { cat "$c/old/movie.pak"; rnd $((8 * mib)); } >"$c/new/movie.pak"
      changed[$1]=$((8 * mib)) ;;
    new_random)  # a new file that does not compress
      rnd $((8 * mib)) >"$c/new/patch001.pak"
      changed[$1]=$((8 * mib)) ;;
    new_text)  # a new file of game text
      text $((32 * mib)) 7 >"$c/new/text_ja.dat"
      changed[$1]=$((32 * mib)) ;;
    small_files)  # many small files, a few of them changed
      local i
      mkdir -p "$c/old/ui" "$c/new/ui"
      for i in $(seq 0 1999); do rnd 16384 >"$c/old/ui/icon$i.dds"; done
      cp "$c/old/ui/"* "$c/new/ui/"
      for i in $(seq 0 50 1999); do patch_at "$c/new/ui/icon$i.dds" 4096 1024; done
      changed[$1]=$((40 * 1024)) ;;
  esac
}
cases=${RQ_BENCH_CASES:-"scattered insertion append new_random new_text small_files"}
echo "== releases (scale $scale)"
for name in $cases; do make_case "$name"; done

url=$(scripts/nginx-serve.sh start "$state" "$state/nginx")
port=$(echo "$url" | sed 's|.*:\([0-9]*\)/|\1|')
shaper_pid=""
cleanup() {
  if [ -n "$shaper_pid" ]; then kill "$shaper_pid" 2>/dev/null || true; fi
  scripts/nginx-serve.sh stop "$state/nginx"
}
trap cleanup EXIT
log="$state/nginx/logs/access.log"
sent_since() {  # LINE: bytes nginx sent after that line of its log
  sleep 0.3
  tail -n +"$(($1 + 1))" "$log" | awk '{ s += $10 } END { print s + 0 }'
}
log_lines() { wc -l <"$log"; }

. scripts/wine-env.sh
rq_wine_ready
now() { date +%s.%N; }

# The new release's content (whole files and delta/), and an install of the
# old release made current by the launcher from a content of its own.
printf 'TOLVANE-KEY-LIST 1\nversion: 1\nrelease-step: 1000\nrelease-key: %s expires 2099-01-01\n' \
  "$(cat tests/fixtures/keys/test-other.pub)" >"$state/keys.txt"
for name in $cases; do
  c="$state/$name"
  cp build/windows/bin/TOLVANE.exe "$c/new/TOLVANE.EXE"
  # As a release is published: the root's key list, the release signed by
  # the release key it names, and a timestamp.
  build/linux/bin/mkpatch --quiet --root tests/fixtures/keys/test-release.key --content "$c/content" "$state/keys.txt"
  build/linux/bin/mkpatch --quiet --sign tests/fixtures/keys/test-other.key --release 1 \
    --content "$c/content" --output "$c/new.lua" "$c/new"
  mkdir -p "$c/install"
  cp -a "$c/old/." "$c/install/"
  cp build/windows/bin/LauncherKeyed.exe "$c/install/Launcher.exe"
  cp build/windows/bin/TOLVANE.exe "$c/install/TOLVANE.EXE"
done

printf '\n%-12s %10s %10s %10s %10s %10s %8s %8s\n' "case" "launcher" "changed" "whole" "zsync" "xdelta3" "l/chg" "l/zsync"
total_l=0; total_z=0; total_release=0
for name in $cases; do
  c="$state/$name"
  # The game itself is listed too: the stand-in game is in every release.
  cp build/windows/bin/TOLVANE.exe "$c/install/TOLVANE.EXE"
  whole=0; xd=0
  zmark=$(log_lines)
  for f in $(cd "$c/new" && find . -type f ! -name TOLVANE.EXE | sed 's|^\./||'); do
    same=0
    if [ -f "$c/old/$f" ] && cmp -s "$c/old/$f" "$c/new/$f"; then same=1; fi
    [ "$same" = 1 ] || whole=$((whole + $(stat -c %s "$c/new/$f")))
    # zsync against the same old file, over the same nginx. An unchanged file
    # too: zsync learns that a file is current only from its control file
    # (the launcher, from the script it fetches in any case).
    zsyncmake -u "${url}$name/content/$f" -o "$c/content/$f.zsync" "$c/new/$f" >/dev/null 2>&1
    rm -f "$state/zsync.out"
    seed=()
    if [ -f "$c/old/$f" ]; then seed=(-i "$c/old/$f"); fi
    (cd "$state" && zsync -q "${seed[@]}" -o "$state/zsync.out" "${url}$name/content/$f.zsync" >/dev/null 2>&1)
    cmp -s "$state/zsync.out" "$c/new/$f" || { echo "bench-delta: zsync did not make $name/$f" >&2; exit 1; }
    if [ "$same" = 1 ]; then continue; fi
    if [ -f "$c/old/$f" ]; then
      xd=$((xd + $(xdelta3 -e -9 -f -s "$c/old/$f" "$c/new/$f" /dev/stdout | wc -c)))
    else
      xd=$((xd + $(xdelta3 -e -9 -f "$c/new/$f" /dev/stdout | wc -c)))
    fi
  done
  zs=$(sent_since "$zmark")
  mark=$(log_lines)
  (cd "$c/install" && wine Launcher.exe _C "${url}$name/content/" >/dev/null 2>&1)
  [ -f "$c/install/TOLVANE_CMDLINE.txt" ] || { echo "bench-delta: $name did not end in the game" >&2; exit 1; }
  l=$(sent_since "$mark")
  release=$(du -sb "$c/new" | cut -f1)
  total_l=$((total_l + l)); total_z=$((total_z + zs)); total_release=$((total_release + release))
  awk -v n="$name" -v l="$l" -v ch="${changed[$name]}" -v w="$whole" -v z="$zs" -v x="$xd" 'BEGIN {
    m = 1048576; printf "%-12s %9.1fM %9.1fM %9.1fM %9.1fM %9.1fM %8.2f %8.2f\n", n, l / m, ch / m, w / m, z / m, x / m, l / ch, l / z }'
  printf '%s %s %s %s\n' "$name" "$l" "${changed[$name]}" "$release" >>"$state/goals.txt"
done
awk -v l="$total_l" -v z="$total_z" 'BEGIN { printf "%-12s %9.1fM %43s %8.2f\n", "all", l / 1048576, "", l / z }'
echo "(goals: launcher <= 1.2 x changed + 1% of the case's release where the change does not compress;"
echo " a new compressible file <= 0.4 x its size; fewer bytes than zsync in all, <= 1.25 x zsync in each)"
awk '{ name = $1; l = $2; ch = $3; rel = $4
  goal = name == "new_text" ? 0.4 * ch : 1.2 * ch + 0.01 * rel
  printf "  %-12s %9.1fM of %9.1fM allowed: %s\n", name, l / 1048576, goal / 1048576, l <= goal ? "met" : "NOT MET" }' "$state/goals.txt"

case " $cases " in *" scattered "*) ;; *) exit 0 ;; esac
echo
echo "== time to the game start through a ${line_mbit} Mbit/s line (the scattered case again)"
c="$state/scattered"
rate=$((line_mbit * 1000000 / 8))
rm -f "$state/shaper.port"
build/linux/bin/line_shaper "$state/shaper.port" "$port" "$rate" >/dev/null 2>&1 </dev/null &
shaper_pid=$!
for _ in $(seq 50); do [ -s "$state/shaper.port" ] && break; sleep 0.1; done
surl="http://127.0.0.1:$(cat "$state/shaper.port")/"
old_bytes=$(du -sb "$c/old" | cut -f1)
# A Wine start varies by a tenth of a second from one to the next: the pair
# (an update from a fresh install of the old release, then a start with
# nothing to fetch) runs RQ_BENCH_TIMING_RUNS times, and the median counts.
runs=${RQ_BENCH_TIMING_RUNS:-5}
: >"$state/timing.txt"
for run in $(seq "$runs"); do
  rm -rf "$c/install"
  mkdir -p "$c/install"
  cp -a "$c/old/." "$c/install/"
  cp build/windows/bin/LauncherKeyed.exe "$c/install/Launcher.exe"
  cp build/windows/bin/TOLVANE.exe "$c/install/TOLVANE.EXE"
  mark=$(log_lines)
  a=$(now)
  (cd "$c/install" && wine Launcher.exe _C "${surl}scattered/content/" >/dev/null 2>&1)
  b=$(now)
  l=$(sent_since "$mark")
  # The old files read at the disk's speed: cat over them (the page cache as
  # the launcher found it).
  ra=$(now)
  cat "$c/old/"* >/dev/null
  rb=$(now)
  # The same start with nothing to fetch: Wine, the window, the script, the game start.
  na=$(now)
  (cd "$c/install" && wine Launcher.exe _C "${surl}scattered/content/" >/dev/null 2>&1)
  nb=$(now)
  echo "$run $a $b $l $ra $rb $na $nb" >>"$state/timing.txt"
done
sort -n -k1 "$state/timing.txt" | awk -v r="$rate" -v ob="$old_bytes" '{
  t = $3 - $2; net[NR] = t - ($8 - $7); goal[NR] = 1.3 * $4 / r + ($6 - $5)
  printf "  run %d: %.1f MiB sent in %.2f s to the game start, %.2f s net of a start with nothing to fetch; goal %.2f s: %s\n",
         $1, $4 / 1048576, t, net[NR], goal[NR], net[NR] <= goal[NR] ? "met" : "NOT MET"
  line[NR] = $4 / r; read[NR] = $6 - $5 }
  END {
  n = NR; for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) {
    if (net[j] < net[i]) { x = net[i]; net[i] = net[j]; net[j] = x }
    if (goal[j] < goal[i]) { x = goal[i]; goal[i] = goal[j]; goal[j] = x }
    if (line[j] < line[i]) { x = line[i]; line[i] = line[j]; line[j] = x }
    if (read[j] < read[i]) { x = read[i]; read[i] = read[j]; read[j] = x } }
  m = int((n + 1) / 2)
  printf "  median of %d: %.2f s net; goal 1.3 x %.2f s on the line + %.2f s reading %.0f MiB of old files = %.2f s: %s (net)\n",
         n, net[m], line[m], read[m], ob / 1048576, goal[m], net[m] <= goal[m] ? "met" : "NOT MET" }'
