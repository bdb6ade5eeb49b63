// Bytes as hexadecimal text: hashes, keys and signatures in scripts, key
// files and signature files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Two lower-case digits per byte.
std::string RQBLToHex(const uint8_t* pData, size_t nSize);

// Exactly nSize bytes from exactly 2 * nSize digits (either case). False, with
// pOut left alone, for any other length or a character that is no digit.
bool RQBLFromHex(std::string_view strHex, uint8_t* pOut, size_t nSize);
bool RQBLFromHex(std::wstring_view strHex, uint8_t* pOut, size_t nSize);
