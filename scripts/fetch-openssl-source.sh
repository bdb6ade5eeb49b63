#!/usr/bin/env bash
# Fetches Debian's openssl source package into .deps/openssl with its patches
# applied. The Windows build compiles libcrypto from it (cmake/Crypto.cmake);
# the native build links Debian's own libcrypto.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dest="$here/.deps/openssl"
version=3.0.20-1~deb12u2
orig_sha256=c80a01dfc70ece4dc21168932c37739042d404d46ccc81a5986dd75314ecda6f
debian_sha256=7279efe85c359500c95aa88347e3395dd303d7566e2bb818d80d96e0c3bb9629

if [ -f "$dest/Configure" ] && [ "$(cat "$dest/.verified" 2>/dev/null)" = "$version" ]; then exit 0; fi

. "$here/scripts/needs.sh"
. "$here/scripts/deb-src.sh"
rq_need apt-get dpkg-source sha256sum xz
rq_deb_src openssl

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get source -qq --download-only "openssl=$version" 2>/dev/null); then
  # Debian replaces a source package with each security update; the pins
  # below then have to follow (new version, new digests).
  echo "fetch-openssl-source: Debian no longer offers openssl $version; update the pins in $0" >&2
  exit 1
fi
# The archive's signature key is not on every machine, so the two tarballs are
# checked against pinned digests instead.
upstream=${version%%-*}
(cd "$work" && printf '%s  %s\n%s  %s\n' "$orig_sha256" "openssl_$upstream.orig.tar.gz" \
  "$debian_sha256" "openssl_$version.debian.tar.xz" | sha256sum -c --quiet -)
(cd "$work" && dpkg-source -q --no-check -x openssl_*.dsc openssl >/dev/null 2>&1)
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$work/openssl" "$dest"
echo "$version" >"$dest/.verified"
echo "fetch-openssl-source: OpenSSL $version ready in .deps/openssl"
