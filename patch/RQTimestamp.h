// The timestamp "PATCHER_TIMESTAMP.txt" that lies beside the patch script:
// short-lived (days), renewed by mkpatch, signed by a key the key list allows
// for timestamps. It names the exact files of the current update by their
// SHA-256, so that a server cannot mix an old key list or another signed
// release in with a fresh timestamp, nor serve one update for longer than
// the timestamp lives.
//
// The file is ASCII text, one field per line, in this order:
//
//     TOLVANE-TIMESTAMP 1
//     key: ed25519:<the signer's public key, 64 hex digits>
//     expires: <YYYY-MM-DD, refused from 00:00 UTC of that day on>
//     release: <the release number of PATCHER_CODE.LUA.sig>
//     script: <SHA-256 of PATCHER_CODE.LUA, 64 lower-case hex digits>
//     script-signature: <SHA-256 of PATCHER_CODE.LUA.sig>
//     key-list: <SHA-256 of PATCHER_KEYS.txt>
//     signature: <Ed25519 signature, 128 hex digits>
//
// The signature covers every line but "key:" and "signature:", in their
// order, each ending with LF.
#pragma once

#include <cstdint>
#include <string>

#include "baselib/RQBLEd25519.h"
#include "baselib/RQBLSha256.h"

inline constexpr wchar_t RQ_TIMESTAMP_FILE[] = L"PATCHER_TIMESTAMP.txt";
inline constexpr size_t RQ_TIMESTAMP_MAX_BYTES = 4096;
// mkpatch's default and greatest lifetime of a timestamp, in days.
inline constexpr int RQ_TIMESTAMP_DEFAULT_DAYS = 7;
inline constexpr int RQ_TIMESTAMP_MAX_DAYS = 31;

struct RQ_TIMESTAMP {
    RQ_PUBLIC_KEY key{};
    std::string strExpires;  // "YYYY-MM-DD", always set
    int64_t nExpiresUnix = 0;
    uint64_t ullRelease = 0;
    RQ_SHA256 script{};
    RQ_SHA256 scriptSignature{};
    RQ_SHA256 keyList{};
    RQ_SIGNATURE signature{};
};

// The bytes that the signature covers.
std::string RQTimestampMessage(const RQ_TIMESTAMP& stamp);
std::string RQFormatTimestamp(const RQ_TIMESTAMP& stamp);
// Strict: the form above and nothing else (line ends LF or CRLF, the last one optional).
bool RQParseTimestamp(const std::string& strFile, RQ_TIMESTAMP& stamp);

// Fills in key and signature; strExpires must be a valid date.
bool RQSignTimestamp(RQ_TIMESTAMP& stamp, const RQ_SECRET_KEY& secret);
bool RQVerifyTimestamp(const RQ_TIMESTAMP& stamp);
