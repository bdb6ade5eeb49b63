// Turns one prefixed log line into the record stored in the .log file:
//
//   offset 0, 16 bytes: length block, the 4-byte little-endian N, XOR-transformed
//                       and then SEED-CBC-enciphered with padding (one block)
//   offset 16, N bytes: text block, the line as UTF-16LE code units without
//                       terminator, XOR-transformed and then SEED-CBC-enciphered
//                       with padding; N = 16 * (L / 16 + 1) for L text bytes
//
// Records follow one another with nothing in between; the file has no header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Appends the record of strLine, made with the XOR key given, to pStream.
// Returns false when nothing was written (the record could not be made, for
// instance with an empty key).
bool WriteLogRecordWithKey(FILE* pStream, const std::wstring& strLine, const std::vector<int32_t>& key);
