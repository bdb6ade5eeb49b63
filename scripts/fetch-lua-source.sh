#!/usr/bin/env bash
# Fetches Debian's lua5.1 source package into .deps/lua5.1 with its patches applied.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/needs.sh"
. "$here/scripts/deb-src.sh"
dest="$here/.deps/lua5.1"
orig_sha256=2640fc56a795f29d28ef15e13c34a47e223960b0240e8cb0a82d9b0738695333
debian_sha256=c39fc17b2ce09aa17771af49b9f40465a2458913ff2e25ff967fe32aada0737f
vararg_patch=0004-Fix-stack-overflow-in-vararg-functions.patch

if [ -f "$dest/src/lapi.c" ] && [ -f "$dest/.verified" ]; then exit 0; fi

rq_need apt-get dpkg-source sha256sum xz
rq_deb_src lua5.1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq --download-only lua5.1)
# The archive's signature key is not on every machine, so the two tarballs are
# checked against pinned digests instead.
(cd "$work" && printf '%s  %s\n%s  %s\n' "$orig_sha256" lua5.1_5.1.5.orig.tar.gz \
  "$debian_sha256" lua5.1_5.1.5-9.debian.tar.xz | sha256sum -c --quiet -)
(cd "$work" && dpkg-source -q --no-check -x lua5.1_*.dsc lua5.1 >/dev/null)
# dpkg-source applies the package's whole series; make sure the vararg fix is in it.
grep -qx "$vararg_patch" "$work/lua5.1/debian/patches/series"
grep -q 'luaD_checkstack(L, p->maxstacksize + p->numparams)' "$work/lua5.1/src/ldo.c"
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$work/lua5.1" "$dest"
touch "$dest/.verified"
echo "fetch-lua-source: Lua $(sed -n 's/.*LUA_RELEASE.*"Lua \(.*\)"/\1/p' "$dest/src/lua.h") ready in .deps/lua5.1"
