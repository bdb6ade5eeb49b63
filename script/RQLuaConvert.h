// Conversions of Lua values into the launcher's field types. A Lua number is a
// double; casting an out-of-range double to an integer is undefined in C++, so
// these spell out what the processor's truncating conversion gives instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rqlua {

// Truncates toward zero. NaN and values outside the type give the type's
// lowest value (the x86 "integer indefinite").
int32_t TruncToInt32(double dValue);
int64_t TruncToInt64(double dValue);
// Truncates toward zero; values from 2^63 up to below 2^64 convert exactly,
// negative values wrap as their 64-bit two's complement (-1 gives 2^64 - 1).
uint64_t TruncToUInt64(double dValue);
// The low 32 bits of the 64-bit signed truncation (-1 gives 0xFFFFFFFF).
uint32_t TruncToUInt32(double dValue);

}  // namespace rqlua
