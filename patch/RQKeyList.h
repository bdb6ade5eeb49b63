// The key list "PATCHER_KEYS.txt" that lies beside the patch script: signed
// by one of the root keys built into the launcher (kept offline, never on a
// server), it names the keys that may sign releases and timestamps, each
// until a day, the keys it revokes, how far one release may jump past the
// last one an install accepted, and its own version, which only rises.
//
// The file is ASCII text, one field per line, in this order:
//
//     TOLVANE-KEY-LIST 1
//     version: <decimal, no leading zeros>
//     release-step: <decimal, at least 1>
//     release-key: ed25519:<64 hex digits> expires <YYYY-MM-DD>     (one or more)
//     timestamp-key: ed25519:<64 hex digits> expires <YYYY-MM-DD>   (none or more)
//     revoked: ed25519:<64 hex digits>                              (none or more)
//     root: ed25519:<the root key that signed, 64 hex digits>
//     signature: <Ed25519 signature, 128 hex digits>
//
// The signature covers every line before "root:", each ending with LF. A key
// appears once in the file at most. A release key may sign timestamps too; a
// timestamp key signs nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLEd25519.h"

inline constexpr wchar_t RQ_KEY_LIST_FILE[] = L"PATCHER_KEYS.txt";
// Room for a few dozen keys; anything far larger is no key list.
inline constexpr size_t RQ_KEY_LIST_MAX_BYTES = 64 * 1024;
inline constexpr size_t RQ_KEY_LIST_MAX_KEYS = 64;

enum class RQKeyRole { RELEASE, TIMESTAMP };

struct RQ_LISTED_KEY {
    RQ_PUBLIC_KEY key{};
    RQKeyRole role = RQKeyRole::RELEASE;
    std::string strExpires;    // "YYYY-MM-DD": refused from 00:00 UTC of that day on
    int64_t nExpiresUnix = 0;  // the first second of that day (UTC)
};

struct RQ_KEY_LIST {
    uint64_t ullVersion = 0;
    uint64_t ullReleaseStep = 0;
    std::vector<RQ_LISTED_KEY> vecKeys;  // release keys first, then timestamp keys
    std::vector<RQ_PUBLIC_KEY> vecRevoked;
    RQ_PUBLIC_KEY root{};
    RQ_SIGNATURE signature{};
};

// The signed lines (everything before "root:"), and the whole file.
std::string RQKeyListBody(const RQ_KEY_LIST& list);
std::string RQFormatKeyList(const RQ_KEY_LIST& list);

// Strict: the form above and nothing else (line ends LF or CRLF, the last one
// optional). bSigned false reads an unsigned draft, the same lines without
// "root:" and "signature:" (what an operator edits before mkpatch signs it).
// On failure, *pnBadLine (when given) is the first line found wrong, from 1.
bool RQParseKeyList(const std::string& strFile, bool bSigned, RQ_KEY_LIST& list, size_t* pnBadLine = nullptr);

// Fills in root and signature.
bool RQSignKeyList(RQ_KEY_LIST& list, const RQ_SECRET_KEY& rootSecret);
// True when the signature is the named root's over the body.
bool RQVerifyKeyList(const RQ_KEY_LIST& list);

// The entry of key with that role (a release key also counts for
// RQKeyRole::TIMESTAMP), or null.
const RQ_LISTED_KEY* RQFindListedKey(const RQ_KEY_LIST& list, const RQ_PUBLIC_KEY& key, RQKeyRole role);
bool RQIsRevoked(const RQ_KEY_LIST& list, const RQ_PUBLIC_KEY& key);
