#!/usr/bin/env bash
# Installs everything the build, the tests and the scripts need on a fresh
# Debian machine (bookworm): the package of every command or file listed in
# scripts/needs.sh that is missing, then checks that all of them are there.
# Quiet when all is there, so every script can run it first; run as root (or
# through sudo).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/needs.sh"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
while read -r thing package; do
  if ! rq_has "$thing"; then
    case " ${missing[*]} " in *" $package "*) ;; *) missing+=("$package") ;; esac
  fi
done < <(rq_needs_table)
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  # Without recommended packages: what the scripts need from a recommendation
  # is listed in scripts/needs.sh by name (wine64's loader needs the package
  # wine for the commands wine, wineboot and wineserver).
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
# A package that installed but did not bring what it was listed for stops here,
# not later as an unrelated symptom.
while read -r thing package; do
  if ! rq_has "$thing"; then
    echo "install-deps: $thing is still missing after installing the package $package" >&2
    exit 1
  fi
done < <(rq_needs_table)

# nginx-light's package starts a system-wide server on port 80; the tests run
# their own instances on free loopback ports, so the system one is not needed.
# Where there is no systemd (a container, a chroot) nothing was started.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet nginx 2>/dev/null; then
  "${sudo_cmd[@]}" systemctl stop nginx
fi

# Wine runs the launcher as on a Japanese Windows (code page 932) when started
# under ja_JP.UTF-8, and needs that locale to exist to map Japanese file names.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  "${sudo_cmd[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# Lua 5.1.5 for the Windows build comes from Debian's source package, so both
# builds run the same interpreter with the same fixes (CVE-2014-5461 among them).
"$here/scripts/fetch-lua-source.sh"
# OpenSSL's libcrypto (SHA-256, Ed25519) for the Windows build, likewise from
# Debian's source package; natively the build links Debian's libssl-dev.
"$here/scripts/fetch-openssl-source.sh"
# zstd (the compressed parts of delta releases) for the Windows build, likewise;
# natively the build links Debian's libzstd-dev.
"$here/scripts/fetch-zstd-source.sh"
