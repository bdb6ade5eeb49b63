// What hashing every download with SHA-256 costs, in one run:
//   sha256_bench
// A 64 MiB buffer is fed in the launcher's 100 KiB receive blocks to our
// SHA-256 (OpenSSL's), to the CRC-32 the launcher already computes while
// receiving, to a plain copy of the blocks (what receiving itself costs at
// least), and to the system's SHA-256 where there is one. The figure that
// matters: the share of one core that hashing a 1 GB/s stream takes.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "PeerSha256.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"

namespace {

constexpr size_t kBufferBytes = size_t{64} << 20;
constexpr size_t kBlockBytes = 102400;
constexpr int kRounds = 5;

volatile uint64_t g_sink;

// Best of kRounds, in MB/s (10^6 bytes per second).
double BestRate(const std::function<void()>& fn) {
    double dBest = 1e30;
    for (int i = 0; i < kRounds; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        dBest = d < dBest ? d : dBest;
    }
    return static_cast<double>(kBufferBytes) / dBest / 1e6;
}

template <typename F>
void InBlocks(const std::vector<uint8_t>& vecData, F fn) {
    for (size_t i = 0; i < vecData.size(); i += kBlockBytes) {
        fn(vecData.data() + i, std::min(kBlockBytes, vecData.size() - i));
    }
}

}  // namespace

int main() {
    std::vector<uint8_t> vecData(kBufferBytes);
    std::mt19937_64 rng(12345);
    for (size_t i = 0; i + 8 <= vecData.size(); i += 8) {
        uint64_t v = rng();
        std::memcpy(vecData.data() + i, &v, 8);
    }
    std::vector<uint8_t> vecCopy(kBlockBytes);

    RQ_SHA256 ours{};
    const double dSha = BestRate([&] {
        CRQBLSha256 sha;
        InBlocks(vecData, [&](const uint8_t* p, size_t n) { sha.Update(p, n); });
        sha.Final(ours);
    });
    const double dCrc = BestRate([&] {
        CRQBLStreamCrc crc;
        InBlocks(vecData, [&](const uint8_t* p, size_t n) { crc.Update(p, n); });
        g_sink = g_sink + crc.Value();
    });
    const double dCopy = BestRate([&] {
        InBlocks(vecData, [&](const uint8_t* p, size_t n) { std::memcpy(vecCopy.data(), p, n); });
        g_sink = g_sink + vecCopy[kBlockBytes / 2];
    });

    // One object per transfer: what a new object and its digest cost.
    constexpr int kObjects = 20000;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kObjects; ++i) {
        CRQBLSha256 sha;
        RQ_SHA256 digest{};
        sha.Final(digest);
        g_sink = g_sink + digest[0];
    }
    const double dObjectUs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 1e6 / kObjects;

    std::printf("sha256_bench: %zu MiB in %zu-byte blocks, best of %d\n", kBufferBytes >> 20, kBlockBytes,
                kRounds);
    std::printf("  %-34s %8.0f MB/s\n", "SHA-256 (CRQBLSha256, OpenSSL)", dSha);
    std::printf("  %-34s %8.0f MB/s\n", "CRC-32 (CRQBLStreamCrc)", dCrc);
    std::printf("  %-34s %8.0f MB/s\n", "copy of the blocks (memcpy)", dCopy);
    if (PeerSha256Fn pfnPeer = GetPeerSha256()) {
        RQ_SHA256 theirs{};
        const double dPeer =
            BestRate([&] { pfnPeer(vecData.data(), vecData.size(), kBlockBytes, theirs.data()); });
        std::printf("  %-34s %8.0f MB/s  (ours / theirs: %.2f; same digest: %s)\n", PeerSha256Name(), dPeer,
                    dSha / dPeer, theirs == ours ? "yes" : "NO");
    }
    std::printf("  new object + digest of nothing: %.2f us\n", dObjectUs);
    std::printf("  SHA-256 / CRC-32 time: %.2f; a 1 GB/s stream keeps %.0f%% of one core busy hashing\n",
                dCrc / dSha, 1000.0 / dSha * 100.0);
    return 0;
}
