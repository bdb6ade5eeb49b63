#!/usr/bin/env bash
# Fetches Debian's libzstd source package into .deps/zstd with its patches
# applied. The Windows build compiles the library from it (cmake/Zstd.cmake);
# the native build links Debian's own libzstd.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest="$here/.deps/zstd"
version=1.5.4+dfsg2-5
orig_sha256=8cf4bbb65e77ec348d052c8d6230eba66d435bddf64c8b5be2fcb16880c19953
debian_sha256=82ce911445772861d0838bd4545f93bc50658bc7f3cefdb17a307dfb8ffca5d8

if [ -f "$dest/lib/zstd.h" ] && [ "$(cat "$dest/.verified" 2>/dev/null)" = "$version" ]; then exit 0; fi

. "$here/scripts/needs.sh"
. "$here/scripts/deb-src.sh"
rq_need apt-get dpkg-source sha256sum xz
rq_deb_src libzstd

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get source -qq --download-only "libzstd=$version" 2>/dev/null); then
  # Debian replaces a source package with each update; the pins below then
  # have to follow (new version, new digests).
  echo "fetch-zstd-source: Debian no longer offers libzstd $version; update the pins in $0" >&2
  exit 1
fi
# The archive's signature key is not on every machine, so the two tarballs are
# checked against pinned digests instead.
upstream=${version%-*}
(cd "$work" && printf '%s  %s\n%s  %s\n' "$orig_sha256" "libzstd_$upstream.orig.tar.xz" \
  "$debian_sha256" "libzstd_$version.debian.tar.xz" | sha256sum -c --quiet -)
(cd "$work" && dpkg-source -q --no-check -x libzstd_*.dsc zstd >/dev/null 2>&1)
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$work/zstd" "$dest"
echo "$version" >"$dest/.verified"
echo "fetch-zstd-source: zstd $version ready in .deps/zstd"
