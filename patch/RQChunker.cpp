#include "patch/RQChunker.h"

#include <array>

namespace {

// The gear table: 256 fixed pseudo-random words. It is part of the format:
// mkpatch and every launcher must cut at the same places, so it is made by a
// fixed generator (SplitMix64 from a fixed seed), never at random.
std::array<uint64_t, 256> MakeGearTable() {
    std::array<uint64_t, 256> table{};
    uint64_t ullState = 0x5452514C434443ull;  // "TRQLCDC"
    for (uint64_t& ullWord : table) {
        ullState += 0x9E3779B97F4A7C15ull;
        uint64_t z = ullState;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        ullWord = z ^ (z >> 31);
    }
    return table;
}

const std::array<uint64_t, 256>& GearTable() {
    static const std::array<uint64_t, 256> s_table = MakeGearTable();
    return s_table;
}

bool IsPowerOfTwo(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

int Log2(uint32_t n) {
    int nBits = 0;
    while (n > 1) {
        n >>= 1;
        ++nBits;
    }
    return nBits;
}

// The top nBits bits of the fingerprint: each of them depends on a whole
// window of earlier bytes (the low bits only on the last few).
uint64_t TopBits(int nBits) {
    return nBits <= 0 ? 0 : ~uint64_t{0} << (64 - nBits);
}

}  // namespace

bool RQ_CHUNK_PARAMS::Valid() const {
    return nMinBytes >= 64 && IsPowerOfTwo(nAvgBytes) && nMinBytes < nAvgBytes && nAvgBytes < nMaxBytes &&
           nMaxBytes <= 16 * 1024 * 1024 && nNormalization <= 3;
}

CRQChunker::CRQChunker(const RQ_CHUNK_PARAMS& params) : m_params(params) {
    // Normalized chunking: nNormalization bits harder before the average, as
    // many easier after it.
    const int nBits = Log2(params.nAvgBytes);
    const auto nLevel = static_cast<int>(params.nNormalization);
    m_ullMaskHard = TopBits(nBits + nLevel);
    m_ullMaskEasy = TopBits(nBits - nLevel);
}

size_t CRQChunker::NextCut(const uint8_t* pData, size_t nBytes) const {
    const std::array<uint64_t, 256>& gear = GearTable();
    if (nBytes <= m_params.nMinBytes) {
        return nBytes;
    }
    const size_t nEnd = nBytes < m_params.nMaxBytes ? nBytes : m_params.nMaxBytes;
    const size_t nNormal = nEnd < m_params.nAvgBytes ? nEnd : m_params.nAvgBytes;
    uint64_t ullPrint = 0;
    // The fingerprint over the bytes before the first possible cut point; a
    // cut can only come after nMinBytes.
    size_t i = m_params.nMinBytes > 64 ? m_params.nMinBytes - 64 : 0;
    for (; i < m_params.nMinBytes; ++i) {
        ullPrint = (ullPrint << 1) + gear[pData[i]];
    }
    for (; i < nNormal; ++i) {
        ullPrint = (ullPrint << 1) + gear[pData[i]];
        if ((ullPrint & m_ullMaskHard) == 0) {
            return i + 1;
        }
    }
    for (; i < nEnd; ++i) {
        ullPrint = (ullPrint << 1) + gear[pData[i]];
        if ((ullPrint & m_ullMaskEasy) == 0) {
            return i + 1;
        }
    }
    // No content cut: at the largest size, or where the data ends for now.
    return nEnd;
}
