#!/usr/bin/env bash
# Proves the README's two commands on a clean system: makes a minimal Debian
# root with debootstrap (from this machine's own Debian mirror), copies a clean
# clone of this checkout's HEAD into it, mounts what Wine, Xvfb and nginx need,
# and runs scripts/demo.sh and then scripts/test-all.sh inside it, each timed.
# Everything it makes is unmounted and removed at the end, also when a step
# fails or it is interrupted. Needs root; takes half an hour or more.
#   scripts/fresh-check.sh
# The last lines say PASS or FAIL for each command with its time, then overall.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/needs.sh"
suite=bookworm
in_root=/root/tolvane-launcher
commands=(scripts/demo.sh scripts/test-all.sh)

# Runs as root in a mount namespace of its own, so that every mount made here
# (also debootstrap's) disappears with the namespace.
#   fresh-check.sh --inside WORK HEAD MIRROR
inside() {
  local work=$1 head=$2 mirror=$3 root=$1/root
  local t0 t1
  t0=$(date +%s)
  if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
    tail -n 20 "$work/debootstrap.log" >&2
    echo "fresh-check: debootstrap failed" >&2
    return 1
  fi
  t1=$(date +%s)
  echo "root $((t1 - t0))" >>"$work/results"
  echo "== fresh-check: clean $suite root made in $((t1 - t0)) s"

  mv "$work/clone" "$root$in_root"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  # debootstrap writes no /etc/hosts; every installed Debian system has one
  # that names localhost, and programs under Wine look names up through it.
  if [ ! -s "$root/etc/hosts" ]; then
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
  fi
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
  mount -t tmpfs -o mode=1777 tmp "$root/tmp"

  local c rc log
  for c in "${commands[@]}"; do
    echo "== fresh-check: $c in the clean root"
    log="$work/$(basename "$c" .sh).log"
    t0=$(date +%s)
    # A login's environment, nothing of this one's.
    set +e
    chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash LANG=C.UTF-8 \
      TERM="${TERM:-dumb}" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      /bin/bash -c "cd $in_root && $c" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    set -e
    t1=$(date +%s)
    echo "$c $rc $((t1 - t0)) $(tail -n 1 "$log" | tr -d '\r')" >>"$work/results"
  done
}

if [ "${1:-}" = --inside ]; then
  inside "$2" "$3" "$4"
  exit
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-check: run it as root (debootstrap, chroot and mounts need it)" >&2
  exit 1
fi
rq_need debootstrap git unshare chroot mount
head=$(git -C "$here" rev-parse HEAD)
mirror=$("$here/scripts/debian-mirror.sh")
work=$(mktemp -d "${TMPDIR:-/var/tmp}/fresh-check.XXXXXX")
: >"$work/results"
ns=""
ns_pid=""

minutes() { # 255 -> "4 min 15 s"
  if [ "$1" -ge 60 ]; then echo "$(($1 / 60)) min $(($1 % 60)) s"; else echo "$1 s"; fi
}

summary() {
  local ok=1 c line rc secs last
  line=$(awk '$1 == "root" { print $2 }' "$work/results")
  [ -n "$line" ] && echo "fresh-check: clean $suite root made in $(minutes "$line")"
  for c in "${commands[@]}"; do
    line=$(awk -v c="$c" '$1 == c' "$work/results")
    if [ -z "$line" ]; then
      echo "fresh-check: FAIL $c (did not run to its end)"
      ok=0
      continue
    fi
    read -r _ rc secs last <<<"$line"
    if [ "$rc" -eq 0 ]; then
      echo "fresh-check: PASS $c in $(minutes "$secs") ($last)"
    else
      echo "fresh-check: FAIL $c after $(minutes "$secs"), exit code $rc ($last)"
      ok=0
    fi
  done
  if [ "$ok" = 1 ]; then echo "fresh-check: PASS"; else echo "fresh-check: FAIL"; fi
  [ "$ok" = 1 ]
}

# Every process in the namespace: the commands' own and what they left
# running on purpose (Xvfb, the persistent wineserver, Wine's services).
namespace_pids() {
  local p
  [ -n "$ns" ] || return 0
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/ns/mnt" 2>/dev/null)" = "$ns" ]; then echo "${p#/proc/}"; fi
  done
}

cleanup() {
  local rc=$? pids
  trap - EXIT INT TERM HUP
  for _ in $(seq 20); do
    pids=$(namespace_pids)
    [ -z "$pids" ] && break
    # shellcheck disable=SC2086  # one word per process id
    kill -KILL $pids 2>/dev/null || :  # some may have ended meanwhile
    sleep 0.5
  done
  if [ -n "$(namespace_pids)" ]; then
    echo "fresh-check: processes of the clean root would not end: $(namespace_pids | tr '\n' ' ')" >&2
    rc=1
  fi
  summary || rc=1
  # The namespace is gone with its last process, and its mounts with it; never
  # remove through a mount that is still there.
  if grep -qF " $work/" /proc/self/mountinfo; then
    echo "fresh-check: something is still mounted under $work; left in place" >&2
    rc=1
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# HEAD of the checkout as it is now, whether or not a branch names it;
# nothing uncommitted.
git clone --quiet --no-hardlinks --no-checkout "$here" "$work/clone"
git -C "$work/clone" fetch --quiet "$here" "$head"
git -C "$work/clone" checkout --quiet --detach "$head"
echo "== fresh-check: HEAD $head of $here, mirror $mirror, in $work"
unshare --mount --propagation private -- "$0" --inside "$work" "$head" "$mirror" &
ns_pid=$!
own_ns=$(readlink /proc/self/ns/mnt)
for _ in $(seq 100); do
  ns=$(readlink "/proc/$ns_pid/ns/mnt" 2>/dev/null || :)
  [ -n "$ns" ] && [ "$ns" != "$own_ns" ] && break
  ns=""
  sleep 0.05
done
if [ -z "$ns" ]; then
  echo "fresh-check: could not make a mount namespace (unshare --mount)" >&2
  exit 1
fi
wait "$ns_pid"
