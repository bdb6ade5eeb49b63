// CRC-32 by folding with carry-less multiplication (PCLMULQDQ), after Gopal et
// al., "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction" (Intel, 2009), for the bit-reflected polynomial 0xEDB88320.
//
// Only this file uses the instructions, through the target attribute, so the
// rest of the program needs no special compiler flags and runs on processors
// without them. It stays on 128-bit vectors: the Windows x64 stack is only
// 16-byte aligned, and gcc for mingw spills wider vectors to it misaligned.
#include "baselib/RQBLCrc32Kernel.h"

#if defined(__x86_64__)

#include <immintrin.h>

#define RQBL_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

namespace rqbl {

bool Crc32HasClmul() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

namespace {

// Fold constants: (x^n mod P) bit-reflected and shifted left by one, 33 bits
// each. Eight lanes fold by 1024 bits (n = 1056 and 992); one lane by 128 bits
// (n = 160 and 96); k5 (n = 64) takes 96 bits to 64; then P' and P for the
// Barrett reduction to 32 bits.
alignas(16) const uint64_t kFold1024[2] = {0x01e88ef372ull, 0x014a7fe880ull};
alignas(16) const uint64_t kFold128[2] = {0x01751997d0ull, 0x00ccaa009eull};
alignas(16) const uint64_t kK5K0[2] = {0x0163cd6124ull, 0x0000000000ull};
alignas(16) const uint64_t kPoly[2] = {0x01db710641ull, 0x01f7011641ull};

// Eight lanes of 128 bits fold 128 bytes per step. The multiplier, not
// memory, bounds this kernel (two products per 16 bytes); running table lanes
// beside it in the same loop was measured and made it slower.
constexpr size_t kFoldStep = 128;

RQBL_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i LoadConstant(const uint64_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// Eight lanes, loaded from one 128-byte block.
struct FoldLanes {
    __m128i x0, x1, x2, x3, x4, x5, x6, x7;  // named, not an array: gcc keeps arrays in memory
};

RQBL_CLMUL_TARGET inline void LoadLanes(FoldLanes& lanes, uint32_t nRunning, const uint8_t* p) {
    lanes.x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(nRunning)));
    lanes.x1 = Load(p + 16);
    lanes.x2 = Load(p + 32);
    lanes.x3 = Load(p + 48);
    lanes.x4 = Load(p + 64);
    lanes.x5 = Load(p + 80);
    lanes.x6 = Load(p + 96);
    lanes.x7 = Load(p + 112);
}

RQBL_CLMUL_TARGET inline void FoldLanesOver(FoldLanes& lanes, __m128i k1024, const uint8_t* p) {
    lanes.x0 = Fold(lanes.x0, k1024, Load(p));
    lanes.x1 = Fold(lanes.x1, k1024, Load(p + 16));
    lanes.x2 = Fold(lanes.x2, k1024, Load(p + 32));
    lanes.x3 = Fold(lanes.x3, k1024, Load(p + 48));
    lanes.x4 = Fold(lanes.x4, k1024, Load(p + 64));
    lanes.x5 = Fold(lanes.x5, k1024, Load(p + 80));
    lanes.x6 = Fold(lanes.x6, k1024, Load(p + 96));
    lanes.x7 = Fold(lanes.x7, k1024, Load(p + 112));
}

RQBL_CLMUL_TARGET inline __m128i JoinLanes(const FoldLanes& lanes, __m128i k128) {
    __m128i x = Fold(lanes.x0, k128, lanes.x1);
    x = Fold(x, k128, lanes.x2);
    x = Fold(x, k128, lanes.x3);
    x = Fold(x, k128, lanes.x4);
    x = Fold(x, k128, lanes.x5);
    x = Fold(x, k128, lanes.x6);
    return Fold(x, k128, lanes.x7);
}

// The running value of 128 folded bits.
RQBL_CLMUL_TARGET inline uint32_t Reduce(__m128i x0) {
    const __m128i k128 = LoadConstant(kFold128);
    const __m128i kMask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    // 128 bits to 64.
    __m128i x1 = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, k128, 0x10));
    __m128i x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, kMask32), LoadConstant(kK5K0), 0x00);
    x1 = _mm_xor_si128(x1, x2);
    // Barrett reduction to 32 bits.
    const __m128i kBarrett = LoadConstant(kPoly);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, kMask32), kBarrett, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, kMask32), kBarrett, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

// nBytes at least 16 and a multiple of 16.
RQBL_CLMUL_TARGET uint32_t FoldOnly(uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    const __m128i k128 = LoadConstant(kFold128);
    __m128i x0;
    if (nBytes >= kFoldStep) {
        FoldLanes lanes;
        LoadLanes(lanes, nRunning, pData);
        pData += kFoldStep;
        nBytes -= kFoldStep;
        const __m128i k1024 = LoadConstant(kFold1024);
        while (nBytes >= kFoldStep) {
            FoldLanesOver(lanes, k1024, pData);
            pData += kFoldStep;
            nBytes -= kFoldStep;
        }
        x0 = JoinLanes(lanes, k128);
    } else {
        x0 = _mm_xor_si128(Load(pData), _mm_cvtsi32_si128(static_cast<int>(nRunning)));
        pData += 16;
        nBytes -= 16;
    }
    while (nBytes >= 16) {
        x0 = Fold(x0, k128, Load(pData));
        pData += 16;
        nBytes -= 16;
    }
    return Reduce(x0);
}

}  // namespace

RQBL_CLMUL_TARGET uint32_t Crc32UpdateClmul(uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    if (nBytes >= 16) {
        size_t nBlocks = nBytes & ~size_t{15};
        nRunning = FoldOnly(nRunning, pData, nBlocks);
        pData += nBlocks;
        nBytes -= nBlocks;
    }
    return Crc32UpdateSlicing(nRunning, pData, nBytes);
}

}  // namespace rqbl

#else  // no carry-less multiply on this processor family

namespace rqbl {
bool Crc32HasClmul() {
    return false;
}
uint32_t Crc32UpdateClmul(uint32_t nRunning, const uint8_t* pData, size_t nBytes) {
    return Crc32UpdateSlicing(nRunning, pData, nBytes);
}
}  // namespace rqbl

#endif
