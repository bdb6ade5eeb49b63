// Throughput of the file checksum against its limits, in one run:
//   crc_bench [folder for the 1 GiB file]
// For a 256 MiB buffer and for a 1 GiB file walked in 10 MiB mapped windows:
// the byte-wise table, our CRC, zlib's crc32 (where built with zlib) and a
// read-only pass over the same memory, which bounds what any checksum can do.
#include <emmintrin.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PeerCrc.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLCrc32Kernel.h"
#include "baselib/RQBLMappedFile.h"

namespace {

constexpr size_t kBufferBytes = size_t{256} << 20;
constexpr uint64_t kFileBytes = uint64_t{1} << 30;
constexpr int kRounds = 3;

volatile uint64_t g_sink;

// Reads every byte once with 16-byte loads, four independent accumulators.
void ReadOnly(const uint8_t* pData, size_t nBytes) {
    __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
    size_t i = 0;
    for (; i + 64 <= nBytes; i += 64) {
        a = _mm_xor_si128(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i)));
        b = _mm_xor_si128(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i + 16)));
        c = _mm_xor_si128(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i + 32)));
        d = _mm_xor_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pData + i + 48)));
    }
    uint64_t nTail = 0;
    for (; i < nBytes; ++i) {
        nTail += pData[i];
    }
    __m128i x = _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
    g_sink = g_sink + static_cast<uint64_t>(_mm_cvtsi128_si64(x)) + nTail;
}

double BestSeconds(const std::function<void()>& fn) {
    double dBest = 1e30;
    for (int i = 0; i < kRounds; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        dBest = d < dBest ? d : dBest;
    }
    return dBest;
}

struct Row {
    const char* pszName;
    double dSeconds;
};

void PrintRows(const char* pszTitle, uint64_t nBytes, const std::vector<Row>& rows) {
    double dLimit = rows.back().dSeconds;
    std::printf("%s (%.0f MiB)\n", pszTitle, static_cast<double>(nBytes) / (1 << 20));
    for (const Row& row : rows) {
        double dGBs = static_cast<double>(nBytes) / row.dSeconds / 1e9;
        std::printf("  %-22s %7.2f GB/s  %5.2f of the read-only limit\n", row.pszName, dGBs,
                    dLimit / row.dSeconds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    CRQBLCrc32 crc;
    PeerCrcFn pfnPeer = GetPeerCrc();
    std::printf("carry-less multiply: %s; zlib peer: %s\n", rqbl::Crc32HasClmul() ? "yes" : "no",
                pfnPeer != nullptr ? "yes" : "not built");

    std::vector<uint8_t> buffer(kBufferBytes);
    std::mt19937_64 rng(12345);
    for (size_t i = 0; i < buffer.size(); i += 8) {
        uint64_t v = rng();
        std::memcpy(&buffer[i], &v, 8);
    }
    const uint8_t* p = buffer.data();

    // Memory.
    uint32_t dwTable = 0, dwOurs = 0, dwPeer = 0;
    std::vector<Row> rows;
    rows.push_back({"byte-wise table", BestSeconds([&] {
                        dwTable = ~rqbl::Crc32UpdateBytewise(crc.GetTable(), ~0u, p, kBufferBytes);
                    })});
    rows.push_back({"our CRC", BestSeconds([&] { dwOurs = ~crc.Update(~0u, p, kBufferBytes); })});
    rows.push_back({"portable slicing-by-16",
                    BestSeconds([&] { g_sink = g_sink + ~rqbl::Crc32UpdateSlicing(~0u, p, kBufferBytes); })});
    if (pfnPeer != nullptr) {
        rows.push_back({"zlib crc32", BestSeconds([&] { dwPeer = pfnPeer(0, p, kBufferBytes); })});
    }
    rows.push_back({"read-only pass", BestSeconds([&] { ReadOnly(p, kBufferBytes); })});
    PrintRows("buffer", kBufferBytes, rows);
    if (dwTable != dwOurs || (pfnPeer != nullptr && dwPeer != dwOurs)) {
        std::printf("MISMATCH: table %08x ours %08x zlib %08x\n", dwTable, dwOurs, dwPeer);
        return 1;
    }

    // File, written from the buffer, then read once to bring it into the cache.
    std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    std::filesystem::path file = dir / "rq_crc_bench.bin";
    {
        FILE* pFile = std::fopen(file.string().c_str(), "wb");
        if (pFile == nullptr) {
            std::printf("cannot create %s\n", file.string().c_str());
            return 1;
        }
        for (uint64_t n = 0; n < kFileBytes; n += kBufferBytes) {
            std::fwrite(p, 1, kBufferBytes, pFile);
        }
        std::fclose(pFile);
    }
    const std::wstring strFile = file.wstring();
    auto fnWalk = [&](auto fnWindow) {
        rqbl::WalkMappedFile(strFile.c_str(), CRQBLCrc32::FILE_WINDOW_BYTES, fnWindow);
    };
    fnWalk([](const uint8_t* pData, size_t nBytes) { ReadOnly(pData, nBytes); });

    uint32_t dwFileOurs = 0, dwFileTable = 0, dwFilePeer = 0;
    rows.clear();
    rows.push_back({"byte-wise table", BestSeconds([&] {
                        uint32_t r = ~0u;
                        fnWalk([&](const uint8_t* pData, size_t nBytes) {
                            r = rqbl::Crc32UpdateBytewise(crc.GetTable(), r, pData, nBytes);
                        });
                        dwFileTable = ~r;
                    })});
    rows.push_back(
        {"our CRC (GetFileCrc)", BestSeconds([&] { crc.GetFileCrc(strFile.c_str(), dwFileOurs); })});
    if (pfnPeer != nullptr) {
        rows.push_back({"zlib crc32", BestSeconds([&] {
                            uint32_t r = 0;
                            fnWalk(
                                [&](const uint8_t* pData, size_t nBytes) { r = pfnPeer(r, pData, nBytes); });
                            dwFilePeer = r;
                        })});
    }
    rows.push_back({"read-only pass", BestSeconds([&] {
                        fnWalk([](const uint8_t* pData, size_t nBytes) { ReadOnly(pData, nBytes); });
                    })});
    std::filesystem::remove(file);
    PrintRows("file through 10 MiB mapped windows", kFileBytes, rows);
    if (dwFileTable != dwFileOurs || (pfnPeer != nullptr && dwFilePeer != dwFileOurs)) {
        std::printf("MISMATCH: table %08x ours %08x zlib %08x\n", dwFileTable, dwFileOurs, dwFilePeer);
        return 1;
    }
    return 0;
}
