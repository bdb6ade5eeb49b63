// The reading shared by the signed text files of an update (the script's
// signature, the key list, the timestamp): ASCII, one "name: value" field per
// line in a fixed order, keys and signatures in exactly one written form, so
// that every file has one text and every text one meaning.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "baselib/RQBLSha256.h"

namespace rqsigned {

// The lines of the file, LF or CRLF, the last line end optional.
std::vector<std::string_view> SplitLines(std::string_view strText);

// The value of "name: value", or false when the line is another field.
bool FieldValue(std::string_view strLine, std::string_view strName, std::string_view& strValue);

// "ed25519:" and 64 hexadecimal digits, without blanks.
bool ParseExactKey(std::string_view strValue, RQ_PUBLIC_KEY& key);
// 128 hexadecimal digits.
bool ParseSignature(std::string_view strValue, RQ_SIGNATURE& signature);
// 64 lower-case hexadecimal digits, as RQBLSha256Hex writes them.
bool ParseDigest(std::string_view strValue, RQ_SHA256& digest);
// "never" (empty date), or a date as RQParseUtcDate reads it.
bool ParseExpiry(std::string_view strValue, std::string& strDate, int64_t& nUnix);

}  // namespace rqsigned
