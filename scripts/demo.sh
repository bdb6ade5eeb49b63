#!/usr/bin/env bash
# The launcher's main job, end to end, on this machine:
#   1. builds what is missing (Windows launcher, native mkpatch and logdump);
#   2. makes a sample game build and its content folder with mkpatch: a key
#      list signed with the demo's root key, the update signed with a release
#      key the list names, and a timestamp (the committed test keys: their
#      secret halves are public);
#   3. serves the content with nginx on a free loopback port;
#   4. makes a local install out of date (missing, stale and current files);
#   5. runs a Launcher.exe built with that root (LauncherKeyed.exe) under
#      Wine (on your display if there is one, else a
#      virtual one), saving a screenshot of the window mid-update;
#   6. shows what was updated and the command line the started game received.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh
echo "== building"
# Only what the demo runs: the launcher and the stand-in game (the test
# programs are the test command's).
cmake --preset windows >/dev/null && cmake --build --preset windows --target LauncherKeyed TolvaneStandIn >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux --target mkpatch logdump >/dev/null

demo="$root/out/demo"
rm -rf "$demo"
mkdir -p "$demo/build/data/sound" "$demo/build/manual" "$demo/build/config" "$demo/install"

echo "== a sample game build in $demo/build"
cp build/windows/bin/TOLVANE.exe "$demo/build/TOLVANE.EXE"
head -c $((96 * 1024 * 1024)) /dev/urandom > "$demo/build/data/world.pak"
head -c $((3 * 1024 * 1024)) /dev/urandom > "$demo/build/data/ui.pak"
head -c 700000 /dev/urandom > "$demo/build/data/sound/bgm 01.ogg"
printf 'TOLVANE へようこそ。\r\n' > "$demo/build/manual/はじめに.txt"
printf '[GRAPHIC]\r\nWIDTH=1280\r\nHEIGHT=720\r\n' > "$demo/build/config/default.ini"
: > "$demo/build/config/empty.dat"

echo "== content folder made by mkpatch: key list, signed release 1, timestamp"
printf 'TOLVANE-KEY-LIST 1\nversion: 1\nrelease-step: 1000\nrelease-key: %s expires 2099-01-01\n' \
  "$(cat tests/fixtures/keys/test-other.pub)" > "$demo/keys.txt"
build/linux/bin/mkpatch --quiet --root tests/fixtures/keys/test-release.key --content "$demo/content" "$demo/keys.txt"
build/linux/bin/mkpatch --quiet --sign tests/fixtures/keys/test-other.key --release 1 \
  --content "$demo/content" --output "$demo/PATCHER_CODE.LUA" "$demo/build"

echo "== an out-of-date install in $demo/install"
# The launcher that trusts the demo's key, under the launcher's own name.
cp build/windows/bin/LauncherKeyed.exe "$demo/install/Launcher.exe"
mkdir -p "$demo/install/data" "$demo/install/config"
cp "$demo/build/data/ui.pak" "$demo/install/data/ui.pak"                      # current
cp "$demo/build/config/empty.dat" "$demo/install/config/empty.dat"            # current
head -c $((96 * 1024 * 1024)) /dev/urandom > "$demo/install/data/world.pak"   # stale, same size
printf '[GRAPHIC]\r\nWIDTH=800\r\n' > "$demo/install/config/default.ini"      # stale, other size
# missing: TOLVANE.EXE, data/sound/bgm 01.ogg, manual/はじめに.txt

snapshot() {  # checksum of every game file of the install (not the launcher's own files)
  (cd "$demo/install" && find . -type f ! -path './Log/*' ! -name Launcher.exe ! -name TOLVANE_CMDLINE.txt \
     ! -name PATCHER_CODE.LUA ! -name PATCHER_CODE.LUA.sig ! -name 'LAUNCHER_*.DAT' ! -name stack.log -print0 |
     sort -z | xargs -0 -r md5sum)
}
snapshot > "$demo/before.txt"

# The transfer is slowed a little so that the window can be seen mid-update.
url=$(scripts/nginx-serve.sh start "$demo/content" "$demo/nginx" 40m)
trap 'scripts/nginx-serve.sh stop "$demo/nginx"' EXIT
echo "== content server: $url"

. scripts/wine-env.sh
rq_wine_ready
echo "== running the launcher (display $DISPLAY)"
start=$(date +%s.%N)
# A Japanese Windows reads the patch script in code page 932.
(cd "$demo/install" && LC_ALL=ja_JP.UTF-8 wine Launcher.exe _C "$url" >/dev/null 2>&1) &
launcher=$!
sleep 2.5
if import -display "$DISPLAY" -window root "$demo/screen-full.png" &&
  convert "$demo/screen-full.png" -crop 600x310+0+0 +repage "$demo/screenshot.png"; then
  echo "== screenshot mid-update: $demo/screenshot.png"
else
  echo "demo: no screenshot (ImageMagick's import or convert failed)" >&2
fi
for _ in $(seq 600); do
  kill -0 "$launcher" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$launcher" 2>/dev/null; then
  echo "demo: the launcher did not end within two minutes" >&2
  exit 1
fi
end=$(date +%s.%N)

snapshot > "$demo/after.txt"
# The game's files, without the release's own (the script, compressed too,
# its signature, the key list, the timestamp) and the delta objects.
(cd "$demo/content" && find . -type f ! -name PATCHER_CODE.LUA ! -name PATCHER_CODE.LUA.zst ! -name PATCHER_CODE.LUA.sig \
  ! -name PATCHER_KEYS.txt ! -name PATCHER_TIMESTAMP.txt ! -path './delta/*' -print0 | sort -z |
  xargs -0 md5sum) > "$demo/content.txt"
echo "== what changed in the install"
diff "$demo/before.txt" "$demo/after.txt" | sed -n 's/^> [0-9a-f]*  /  updated: /p' || true
if diff -q "$demo/after.txt" "$demo/content.txt" >/dev/null; then
  echo "== the install now matches the content server, file for file"
else
  echo "demo: the install differs from the content:" >&2
  diff "$demo/after.txt" "$demo/content.txt" >&2 || true
  exit 1
fi
echo "== the game was started with:"
sed 's/^/  /' "$demo/install/TOLVANE_CMDLINE.txt"
echo "== the launcher's log (deciphered with logdump):"
build/linux/bin/logdump "$demo"/install/Log/*.log | sed 's/^/  /'
awk -v a="$start" -v b="$end" 'BEGIN { printf "== the launcher ran for %.1f s\n", b - a }'
