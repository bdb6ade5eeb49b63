// The signature file "PATCHER_CODE.LUA.sig" that lies beside the patch script
// on the content server, the bytes its signature covers, and the one-line
// text form of a public key.
//
// The file is ASCII text, one field per line, in this order:
//
//     TOLVANE-SCRIPT-SIGNATURE 1
//     key: ed25519:<the signer's public key, 64 hexadecimal digits>
//     release: <release number, decimal, no leading zeros>
//     expires: <YYYY-MM-DD (from 00:00 UTC of that day on) or never>
//     signature: <Ed25519 signature, 128 hexadecimal digits>
//
// The Ed25519 signature covers the first, third and fourth line of the file,
// an empty line, and then the script's exact bytes:
//
//     "TOLVANE-SCRIPT-SIGNATURE 1\nrelease: 42\nexpires: never\n\n" + script
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "baselib/RQBLEd25519.h"

inline constexpr wchar_t RQ_SCRIPT_SIGNATURE_FILE[] = L"PATCHER_CODE.LUA.sig";
// A signature file is a few hundred bytes; anything far larger is no signature file.
inline constexpr size_t RQ_SCRIPT_SIGNATURE_MAX_BYTES = 4096;

struct RQ_SCRIPT_SIGNATURE {
    RQ_PUBLIC_KEY key{};
    uint64_t ullRelease = 0;
    std::string strExpires;    // "YYYY-MM-DD", or empty: the release does not expire
    int64_t nExpiresUnix = 0;  // the first second of that day (UTC), when there is one
    RQ_SIGNATURE signature{};
};

// A release number as the signature file writes it: decimal within 64 bits,
// without sign, blanks or leading zeros, so that each number has one text.
bool RQParseReleaseNumber(std::string_view strText, uint64_t& ullRelease);

// "ed25519:" and 64 lower-case hexadecimal digits: what `mkpatch --keygen`
// prints and what the build setting RQ_TRUSTED_KEYS lists.
std::string RQFormatPublicKey(const RQ_PUBLIC_KEY& key);
// Blanks around the text are ignored; hexadecimal digits in either case.
bool RQParsePublicKey(std::string_view strText, RQ_PUBLIC_KEY& key);

// The bytes that the signature covers.
std::string RQSignedScriptMessage(const std::string& strScript, const RQ_SCRIPT_SIGNATURE& sig);

std::string RQFormatScriptSignature(const RQ_SCRIPT_SIGNATURE& sig);
// Strict: the fields above in their order, nothing else (line ends LF or
// CRLF, the last one optional). False for anything else.
bool RQParseScriptSignature(const std::string& strFile, RQ_SCRIPT_SIGNATURE& sig);

// Fills in key and signature of sig (release and expiry as given) for the
// script. strExpires must be empty or a valid date.
bool RQSignScript(const std::string& strScript, const RQ_SECRET_KEY& secret, RQ_SCRIPT_SIGNATURE& sig);
