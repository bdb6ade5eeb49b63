// CRC-32 (reflected, polynomial 0xEDB88320) over memory. Every function takes
// and returns the running value: start with 0xFFFFFFFF, complement at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rqbl {

constexpr uint32_t CRC32_POLYNOMIAL = 0xEDB88320u;

// One table lookup per byte: the reference the faster kernels must agree with.
uint32_t Crc32UpdateBytewise(const uint32_t* pTable, uint32_t nRunning, const uint8_t* pData, size_t nBytes);

// Sixteen bytes per step through sixteen tables; the portable kernel.
uint32_t Crc32UpdateSlicing(uint32_t nRunning, const uint8_t* pData, size_t nBytes);

// Carry-less-multiply folding; only where Crc32HasClmul() is true.
bool Crc32HasClmul();
uint32_t Crc32UpdateClmul(uint32_t nRunning, const uint8_t* pData, size_t nBytes);

// The fastest kernel this processor has.
uint32_t Crc32Update(uint32_t nRunning, const uint8_t* pData, size_t nBytes);

}  // namespace rqbl
