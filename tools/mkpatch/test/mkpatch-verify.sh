#!/usr/bin/env bash
# mkpatch --verify against a release it published, served by nginx on
# loopback: a whole release passes; each kind of broken object is reported by
# name and fails the check.
#   mkpatch-verify.sh MKPATCH
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts="$here/../../../scripts"
. "$scripts/needs.sh"
rq_need nginx
mkpatch=$1
work=$(mktemp -d)
trap '"$scripts/nginx-serve.sh" stop "$work/nginx" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "mkpatch-verify: FAIL: $*" >&2
  exit 1
}

mkdir -p game/data
head -c 300000 /dev/urandom >game/data/world.pak
for i in $(seq 8000); do echo "TOLVANE のテキスト $i"; done >game/data/text.txt
# Signed as an operator signs: a root's key list, a release key it names, a timestamp.
"$mkpatch" --keygen root.key >/dev/null
release_pub=$("$mkpatch" --keygen release.key)
printf 'TOLVANE-KEY-LIST 1\nversion: 1\nrelease-step: 100\nrelease-key: %s expires 2099-01-01\n' "$release_pub" >keys.txt
"$mkpatch" --quiet --root root.key --content content keys.txt
"$mkpatch" --quiet --sign release.key --release 1 --content content --output PATCHER_CODE.LUA game
# The same release again: every file's objects are there already, nothing is compressed again.
"$mkpatch" --sign release.key --release 1 --content content --output PATCHER_CODE.LUA game 2>again.txt
grep -q '2 files (2 published before)' again.txt || fail "published again: $(tr '\r' '\n' <again.txt)"
url=$("$scripts/nginx-serve.sh" start content "$work/nginx")
"$mkpatch" --quiet --verify "$url" >report.txt || fail "a whole release is reported broken: $(cat report.txt)"
grep -q ' 0 problems$' report.txt || fail "no clean summary"

# One broken object per case: how to break it, and what the report names.
index=$(sed -n 's/.*"world.pak",.*,"\([0-9a-f]\{64\}\)")$/\1/p' PATCHER_CODE.LUA)
[ -n "$index" ] || fail "no chunk index for world.pak"
pack=$(ls content/delta/*/*.pack | head -n 1)
zst=$(ls content/delta/*/*.zst | head -n 1)
# Every bit of the byte inverted: a byte set to a fixed value would be
# unchanged where it already held it (one random file in 256).
flip() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\x$(printf %02x $((255 - byte)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
other_script() { printf -- '-- a newer script, uploaded before its timestamp\n' >>content/PATCHER_CODE.LUA; }
cases=(
  "other_script|PATCHER_TIMESTAMP.txt|names another PATCHER_CODE.LUA"
  "rm content/PATCHER_TIMESTAMP.txt|PATCHER_TIMESTAMP.txt|missing"
  "rm $pack|${pack#content/}|missing (404)"
  "flip $zst 100|${zst#content/}|"
  "flip content/delta/${index:0:2}/$index.idx 200|$index.idx|its SHA-256 is not slot 14's"
  "flip content/data/world.pak 5|data/world.pak|not the listed file"
  "cp $zst content/PATCHER_CODE.LUA.zst|PATCHER_CODE.LUA.zst|not this script compressed"
)
for c in "${cases[@]}"; do
  IFS='|' read -r breaking name why <<<"$c"
  cp -a content pristine
  $breaking
  if "$mkpatch" --quiet --verify "$url" >report.txt; then fail "not found: $breaking"; fi
  grep "^PROBLEM: " report.txt | grep -F "$name" | grep -qF "$why" || fail "$breaking: report says $(cat report.txt)"
  rm -rf content
  mv pristine content
done
echo "mkpatch-verify: a whole release passes, each broken object is named"
