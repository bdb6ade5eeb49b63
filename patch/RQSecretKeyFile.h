// The operator's secret signing key on disk. A small text file:
//
//     TOLVANE-SECRET-KEY 1
//     secret: ed25519:<32-byte seed, 64 hexadecimal digits>
//     public: ed25519:<the public key that belongs to it>
//
// The public line lets the operator see which key a file holds; on reading,
// it must match the secret, which also catches a damaged file.
#pragma once

#include <string>

#include "baselib/RQBLEd25519.h"

// The file's text, and its reading (false for anything but that form).
std::string RQFormatSecretKey(const RQ_SECRET_KEY& secret, const RQ_PUBLIC_KEY& key);
bool RQParseSecretKey(const std::string& strText, RQ_SECRET_KEY& secret);
