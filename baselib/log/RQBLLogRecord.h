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

// Appends the record of strLine, made with g_vecLogKey, to pStream. Writes
// nothing when the record cannot be made (for instance before the key is set).
void WriteLogRecord(FILE* pStream, const std::wstring& strLine);

// The same with the XOR key given. Returns false when nothing was written.
bool WriteLogRecordWithKey(FILE* pStream, const std::wstring& strLine, const std::vector<int32_t>& key);
