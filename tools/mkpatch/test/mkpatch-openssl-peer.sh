#!/usr/bin/env bash
# The real mkpatch program end to end, with Debian's openssl, sha256sum and
# zstd as the peers that check its work: the secret key's public half, each
# file's SHA-256 and chunk index in the script, the compressed chunks, the
# Ed25519 signature over the signed bytes, the key list signed by a root and
# the timestamp naming the files by their SHA-256. Then the refusals: an
# existing key file, signing options without a key, a key the key list does
# not name.
#   mkpatch-openssl-peer.sh native|wine MKPATCH_COMMAND...
set -euo pipefail
. "$(dirname "$0")/../../../scripts/needs.sh"
rq_need openssl sha256sum zstd perl
mode=$1
shift
mkpatch=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "mkpatch-openssl-peer: FAIL: $*" >&2
  exit 1
}
run() { "${mkpatch[@]}" "$@" | tr -d '\r'; }
hex2bin() { perl -e 'local $/; my $h = <STDIN>; $h =~ s/\s//g; print pack("H*", $h)'; }
bin2hex() { od -An -tx1 -v | tr -d ' \n'; }
# DER headers of an Ed25519 private key (PKCS #8) and public key (SPKI), RFC 8410.
der_secret=302e020100300506032b657004220420
der_public=302a300506032b6570032100

mkdir -p game/data
printf 'MZ fake' >game/TOLVANE.EXE
head -c 3000000 /dev/urandom >game/data/world.pak
: >game/empty.dat

# A new key: its public line, its permissions, and the public half that
# openssl derives from the secret.
pub=$(run --keygen release.key)
[[ "$pub" =~ ^ed25519:[0-9a-f]{64}$ ]] || fail "public key line: '$pub'"
if [ "$mode" = native ]; then
  [ "$(stat -c %a release.key)" = 600 ] || fail "key file mode $(stat -c %a release.key)"
fi
seed=$(sed -n 's/^secret: ed25519://p' release.key | tr -d '\r')
peer_pub=$(printf '%s%s' "$der_secret" "$seed" | hex2bin | openssl pkey -inform DER -pubout -outform DER |
  tail -c 32 | bin2hex)
[ "ed25519:$peer_pub" = "$pub" ] || fail "openssl derives $peer_pub from the secret, mkpatch printed $pub"

before=$(sha256sum release.key)
if run --keygen release.key 2>/dev/null; then fail "--keygen replaced an existing file"; fi
[ "$(sha256sum release.key)" = "$before" ] || fail "the existing key file changed"

# A signed script, in the output folder and in the content folder alike.
run --quiet --sign release.key --release 7 --expires 2099-12-31 --content content --output out/PATCHER_CODE.LUA game
cmp -s out/PATCHER_CODE.LUA content/PATCHER_CODE.LUA || fail "content script differs"
cmp -s out/PATCHER_CODE.LUA.sig content/PATCHER_CODE.LUA.sig || fail "content signature differs"
# Each file's SHA-256 (slot 13) and the SHA-256 of its chunk index (slot 14),
# which names the index in the content folder; Debian's zstd unpacks the
# compressed chunks (the pack) and blocks (the zst) back into the files.
unpacked=$(for z in content/delta/*/*.zst content/delta/*/*.pack; do zstd -qdc "$z" | sha256sum | cut -c1-64; done)
for f in TOLVANE.EXE data/world.pak empty.dat; do
  hash=$(sha256sum "game/$f" | cut -c1-64)
  entry=$(grep -F "\"${f##*/}\"," out/PATCHER_CODE.LUA)
  if [ "$f" = empty.dat ]; then
    # Nothing to fetch in parts: no chunk index.
    echo "$entry" | grep -qF ",\"$hash\")" || fail "no SHA-256 $hash for $f"
    continue
  fi
  echo "$entry" | grep -qF ",\"$hash\"," || fail "no SHA-256 $hash for $f"
  index=$(echo "$entry" | sed -n 's/.*,"\([0-9a-f]\{64\}\)")$/\1/p')
  [ -n "$index" ] && [ "$(sha256sum "content/delta/${index:0:2}/$index.idx" | cut -c1-64)" = "$index" ] ||
    fail "no chunk index $index for $f"
  [ "$(echo "$unpacked" | grep -c "^$hash$")" -eq 2 ] || fail "zstd does not unpack the pack and the zst of $f"
done

sig=out/PATCHER_CODE.LUA.sig
[ "$(sed -n 2p "$sig")" = "key: $pub" ] || fail "signature file names another key"
[ "$(sed -n 3p "$sig")" = "release: 7" ] || fail "release line"
[ "$(sed -n 4p "$sig")" = "expires: 2099-12-31" ] || fail "expiry line"
printf '%s%s' "$der_public" "${pub#ed25519:}" | hex2bin | openssl pkey -pubin -inform DER -out pub.pem
sed -n 's/^signature: //p' "$sig" | hex2bin >sig.bin
# Signed: the file's first, third and fourth line, an empty line, the script.
verify() { openssl pkeyutl -verify -pubin -inkey pub.pem -rawin -in "$1" -sigfile sig.bin >/dev/null 2>&1; }
{ sed -n '1p;3p;4p' "$sig"; echo; cat out/PATCHER_CODE.LUA; } >signed.bin
verify signed.bin || fail "openssl rejects the signature"
{ sed -n '1p;4p' "$sig" | sed '1a release: 8'; echo; cat out/PATCHER_CODE.LUA; } >raised.bin
if verify raised.bin; then fail "openssl accepts the signature for another release"; fi

# A root signs the operator's key list; the release key then signs the
# update and its timestamp, which names each file by its SHA-256.
root_pub=$(run --keygen root.key)
printf 'TOLVANE-KEY-LIST 1\nversion: 1\nrelease-step: 100\nrelease-key: %s expires 2099-01-01\n' "$pub" >keys.txt
run --quiet --root root.key --content content keys.txt
cmp -s keys.txt content/PATCHER_KEYS.txt || fail "key list differs in the content folder"
[ "$(sed -n 's/^root: //p' keys.txt)" = "$root_pub" ] || fail "key list names another root"
printf '%s%s' "$der_public" "${root_pub#ed25519:}" | hex2bin | openssl pkey -pubin -inform DER -out root.pem
sed -n 's/^signature: //p' keys.txt | hex2bin >keys.sig
sed '/^root: /,$d' keys.txt >keys.body
openssl pkeyutl -verify -pubin -inkey root.pem -rawin -in keys.body -sigfile keys.sig >/dev/null 2>&1 ||
  fail "openssl rejects the key list's signature"
run --quiet --sign release.key --release 8 --content content --output out/PATCHER_CODE.LUA game
stamp=content/PATCHER_TIMESTAMP.txt
[ -f "$stamp" ] || fail "no timestamp beside a key list"
for pair in "script:content/PATCHER_CODE.LUA" "script-signature:content/PATCHER_CODE.LUA.sig" \
  "key-list:content/PATCHER_KEYS.txt"; do
  [ "$(sed -n "s/^${pair%%:*}: //p" "$stamp")" = "$(sha256sum "${pair#*:}" | cut -c1-64)" ] ||
    fail "the timestamp's ${pair%%:*} is not the SHA-256 of ${pair#*:}"
done
[ "$(sed -n 3p "$stamp")" = "expires: $(date -u -d '+7 days' +%F)" ] || fail "timestamp expiry: $(sed -n 3p "$stamp")"
sed -n 's/^signature: //p' "$stamp" | hex2bin >sig.bin
{ sed -n '1p;3,7p' "$stamp"; } >stamp.bin
verify stamp.bin || fail "openssl rejects the timestamp's signature"
run --quiet --renew release.key --days 2 --content content
[ "$(sed -n 3p "$stamp")" = "expires: $(date -u -d '+2 days' +%F)" ] || fail "renewed expiry: $(sed -n 3p "$stamp")"
if run --quiet --sign root.key --release 9 --content content game 2>/dev/null; then
  fail "--sign with a key the key list does not name"
fi
if run --quiet --renew release.key --days 40 --content content 2>/dev/null; then fail "a timestamp of 40 days"; fi

# Signing options need each other and a key.
if run --quiet --release 7 game 2>/dev/null; then fail "--release without --sign"; fi
if run --quiet --sign release.key game 2>/dev/null; then fail "--sign without --release"; fi
if run --quiet --sign release.key --release 7 --expires 2099-02-30 game 2>/dev/null; then fail "no such day"; fi
echo "mkpatch-openssl-peer: $mode mkpatch agrees with openssl"
