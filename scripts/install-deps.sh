#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
# Idempotent and quiet when all is there; run as root (or through sudo).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake g++ pkg-config ninja-build
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xdotool x11-utils imagemagick
  googletest liblua5.1-0-dev zlib1g-dev
  fonts-noto-cjk locales
  nginx-light curl openssl dpkg-dev
  rhash
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# nginx-light's package starts a system-wide server on port 80; the tests run
# their own instances on free loopback ports, so the system one is not needed.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet nginx 2>/dev/null; then
  "${sudo_cmd[@]}" systemctl stop nginx || true
fi

# Wine runs the launcher as on a Japanese Windows (code page 932) when started
# under ja_JP.UTF-8, and needs that locale to exist to map Japanese file names.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  "${sudo_cmd[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# Lua 5.1.5 for the Windows build comes from Debian's source package, so both
# builds run the same interpreter with the same fixes (CVE-2014-5461 among them).
"$here/scripts/fetch-lua-source.sh"
