#!/usr/bin/env bash
# How fast mkpatch makes a delta release, beside Debian's own tools in the same
# run, on the same warm files (medians of RUNS):
#   scan      mkpatch over a content folder it made before: every file read
#             once for its CRC-32, SHA-256, chunks and their SHA-256 (the
#             compressed objects are reused, the files copied again), against
#             sha256sum over the same files, one process per core
#   compress  a first mkpatch minus the scan: the pack (level 3, a frame per
#             chunk) and the zst (level 12, a frame per block of 1 MiB),
#             against `zstd -T0 -3` plus `zstd -T0 -12` over the same files
# Goals: the scan at least half as fast as sha256sum; the compression at least
# as fast as zstd.
#   scripts/bench-mkpatch.sh [MIB [RUNS]]   (384 3; MIB: half random, half game text)
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-384}
runs=${2:-3}
. scripts/needs.sh
rq_need zstd sha256sum
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch >/dev/null
mkpatch=$(pwd)/build/linux/bin/mkpatch
state=$(pwd)/build/bench-mkpatch
rm -rf "$state"
mkdir -p "$state/game/data"
quarter=$((mib / 4))
head -c $((quarter * 1048576)) /dev/urandom >"$state/game/data/world.pak"
head -c $((quarter * 1048576)) /dev/urandom >"$state/game/data/sound.pak"
for seed in 1 2; do
  LC_ALL=C awk -v n=$((quarter * 1048576)) -v seed="$seed" 'BEGIN { srand(seed); split("the a sword shield 勇者 魔王 村 town quest gold potion of to and 王国 dragon ice fire item", w, " ");
    s = 0; while (s < n) { line = "ID_" int(rand() * 100000) " = \""; k = 4 + int(rand() * 10);
      for (i = 0; i < k; ++i) line = line w[1 + int(rand() * 19)] " "; line = line "\"\n";
      if (s + length(line) > n) line = substr(line, 1, n - s); printf "%s", line; s += length(line) } }' >"$state/game/data/text$seed.dat"
done
cat "$state/game/data/"* >/dev/null  # warm

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
timed() {  # COMMAND...: seconds
  local a b
  a=$(now)
  "$@" >/dev/null 2>&1
  b=$(now)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f\n", b - a }'
}
files=("$state/game/data/"*)
sha_par() { printf '%s\0' "${files[@]}" | xargs -0 -P "$(nproc)" -n 1 sha256sum; }
zstd_both() { cat "${files[@]}" | zstd -q -T0 -3 -c >/dev/null && cat "${files[@]}" | zstd -q -T0 -12 -c >/dev/null; }
first_run() { rm -rf "$state/content"; "$mkpatch" --quiet --content "$state/content" --output "$state/p.lua" "$state/game"; }
again_run() { "$mkpatch" --quiet --content "$state/content" --output "$state/p.lua" "$state/game"; }

t_sha=$(for _ in $(seq "$runs"); do timed sha_par; done | median)
t_zstd=$(for _ in $(seq "$runs"); do timed zstd_both; done | median)
t_first=$(for _ in $(seq "$runs"); do timed first_run; done | median)
t_again=$(for _ in $(seq "$runs"); do timed again_run; done | median)
echo "mkpatch on $mib MiB (half random, half game text), $(nproc) cores, medians of $runs:"
awk -v s="$t_sha" -v z="$t_zstd" -v f="$t_first" -v a="$t_again" -v m="$mib" 'BEGIN {
  c = f - a
  printf "  scan      mkpatch %.2f s (%.0f MiB/s)   sha256sum %.2f s (%.0f MiB/s)   rate %.2f x  (goal >= 0.5: %s)\n",
         a, m / a, s, m / s, s / a, (s / a >= 0.5 ? "met" : "NOT MET")
  printf "  compress  mkpatch %.2f s (%.0f MiB/s)   zstd -3 + -12 %.2f s (%.0f MiB/s)   rate %.2f x  (goal >= 1: %s)\n",
         c, m / c, z, m / z, z / c, (z / c >= 1 ? "met" : "NOT MET")
  printf "  (a first mkpatch, everything: %.2f s)\n", f }'
