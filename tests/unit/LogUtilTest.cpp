#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeedCbc.h"
#include "baselib/log/RQBLUtil.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Xor(const Bytes& in, const std::vector<int32_t>& key, bool bDecode) {
    static const uint8_t s_byNothing = 0;  // an empty vector's data() may be null
    const uint8_t* pIn = in.empty() ? &s_byNothing : in.data();
    const uint8_t* p = CRQBLUtil::XORDecrypt(pIn, static_cast<int>(in.size()), key, bDecode, false);
    EXPECT_NE(p, nullptr);
    return p != nullptr ? Bytes(p, p + in.size()) : Bytes();
}

Bytes Pattern(size_t n, uint8_t bySeed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(bySeed + i * 29);
    }
    return v;
}

Bytes ExpectedSeed(const Bytes& in) {
    Bytes out(in.size() + 16);
    int nOut = 0;
    EXPECT_EQ(SeedCbcEncryptKeyed(RQBL_SEED_KEY, RQBL_SEED_IV, in.data(), static_cast<int>(in.size()),
                                  out.data(), &nOut),
              1);
    out.resize(static_cast<size_t>(nOut));
    return out;
}

}  // namespace

TEST(XorTransform, WholeUnitsAreXoredLittleEndianThenFirstAndLastBytesExchanged) {
    const std::vector<int32_t> key = {0x11223344, 0x55667788};
    // Unit 0: 0x04030201 ^ 0x11223344 = 0x15213145, stored 45 31 21 15, then
    // exchanged. Unit 1 takes key word 1, unit 2 key word 0 again.
    const Bytes in = {0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes expected = {0x15, 0x31, 0x21, 0x45, 0x55, 0x77, 0x66, 0x88, 0xEE, 0xCC, 0xDD, 0xBB};
    EXPECT_EQ(Xor(in, key, false), expected);
    EXPECT_EQ(Xor(expected, key, true), in);
}

TEST(XorTransform, TailTakesTheLowBytesOfItsKeyWordUnexchanged) {
    const std::vector<int32_t> key = {0x11223344, 0x55667788};
    const Bytes in = {0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0};
    const Bytes out = Xor(in, key, false);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[4], 0xA0 ^ 0x88);
    EXPECT_EQ(out[5], 0xB0 ^ 0x77);
    // The inverse treats the tail the same way.
    EXPECT_EQ(Xor(out, key, true), in);
    // Tails of one and three bytes.
    EXPECT_EQ(Xor(Bytes{0x0F}, key, false), Bytes{0x0F ^ 0x44});
    EXPECT_EQ(Xor(Bytes({0x00, 0x00, 0x00}), key, false), Bytes({0x44, 0x33, 0x22}));
}

TEST(XorTransform, InverseRestoresEveryLengthAndTheWalkRestartsEachCall) {
    const std::vector<int32_t> key(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY));
    for (size_t n = 0; n <= 64; ++n) {
        const Bytes in = Pattern(n, static_cast<uint8_t>(n * 3));
        const Bytes forward = Xor(in, key, false);
        EXPECT_EQ(Xor(forward, key, true), in) << n;
        EXPECT_EQ(Xor(in, key, false), forward) << n;  // same input, same output
        if (n >= 4) {
            EXPECT_NE(forward, in) << n;
        }
    }
}

TEST(XorTransform, RefusedInputsGiveNull) {
    const Bytes in = Pattern(8, 1);
    const std::vector<int32_t> noKey;
    EXPECT_EQ(CRQBLUtil::XORDecrypt(in.data(), 8, noKey, false, false), nullptr);
    const std::vector<int32_t> key = {1};
    EXPECT_EQ(CRQBLUtil::XORDecrypt(in.data(), -1, key, false, false), nullptr);
    EXPECT_EQ(CRQBLUtil::XORDecrypt(nullptr, 8, key, false, false), nullptr);  // logged, when a log runs
    EXPECT_EQ(CRQBLUtil::XORDecrypt(in.data(), 8, key, false, true), nullptr);
    EXPECT_NE(CRQBLUtil::XORDecrypt(in.data(), 0, key, false, false), nullptr);
}

TEST(ThreadBuffers, EachFunctionKeepsItsOwnBufferUntilItsNextCall) {
    const std::vector<int32_t> key = {0x01020304};
    const Bytes a = Pattern(40, 1);
    const uint8_t* pX = CRQBLUtil::XORDecrypt(a.data(), 40, key, false, false);
    ASSERT_NE(pX, nullptr);
    const Bytes x(pX, pX + 40);
    int nOut = 0;
    const uint8_t* pS = CRQBLUtil::SEEDEncrypt(a.data(), 40, &nOut, false);
    ASSERT_NE(pS, nullptr);
    EXPECT_EQ(Bytes(pX, pX + 40), x);  // untouched by the other function
    EXPECT_EQ(Bytes(pS, pS + nOut), ExpectedSeed(a));

    // A shorter call reuses the buffer, cleared: no bytes of the longer one
    // remain behind the new result.
    const uint8_t* pX2 = CRQBLUtil::XORDecrypt(a.data(), 4, key, false, false);
    EXPECT_EQ(pX2, pX);
    EXPECT_EQ(Bytes(pX2 + 4, pX2 + 40), Bytes(36, 0));

    EXPECT_EQ(CRQBLUtil::SEEDEncrypt(nullptr, 0, &nOut, true), nullptr);
    EXPECT_EQ(CRQBLUtil::XORDecrypt(nullptr, 0, key, false, true), nullptr);
    // Usable again after a release.
    pS = CRQBLUtil::SEEDEncrypt(a.data(), 40, &nOut, false);
    ASSERT_NE(pS, nullptr);
    EXPECT_EQ(Bytes(pS, pS + nOut), ExpectedSeed(a));
}

TEST(SeedEncrypt, LengthsAndRefusals) {
    int nOut = -1;
    const Bytes a = Pattern(20, 7);
    EXPECT_EQ(CRQBLUtil::SEEDEncrypt(a.data(), 0, &nOut, false), nullptr);
    EXPECT_EQ(nOut, 0);
    nOut = -1;
    EXPECT_EQ(CRQBLUtil::SEEDEncrypt(a.data(), -5, &nOut, false), nullptr);
    EXPECT_EQ(nOut, 0);
    EXPECT_EQ(CRQBLUtil::SEEDEncrypt(nullptr, 20, &nOut, false), nullptr);
    EXPECT_EQ(nOut, 0);
    for (int n : {4, 14, 16, 20}) {
        const uint8_t* p = CRQBLUtil::SEEDEncrypt(a.data(), n, &nOut, false);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(nOut, 16 * (n / 16 + 1)) << n;
        EXPECT_EQ(Bytes(p, p + nOut), ExpectedSeed(Bytes(a.begin(), a.begin() + n)));
    }
}

// Two threads encipher at once; each must get its own, correct results. Under
// ThreadSanitizer this also shows that the buffers share nothing.
TEST(ThreadBuffers, TwoThreadsEncipherIndependently) {
    const std::vector<int32_t> key(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY));
    struct Job {
        std::vector<Bytes> vecIn, vecXor, vecSeed;
    };
    Job jobs[2];
    for (int t = 0; t < 2; ++t) {
        for (size_t i = 0; i < 40; ++i) {
            Bytes in = Pattern(1 + (i * 13 + t * 7) % 300, static_cast<uint8_t>(t * 100 + i));
            jobs[t].vecXor.push_back(Xor(in, key, false));
            jobs[t].vecSeed.push_back(ExpectedSeed(in));
            jobs[t].vecIn.push_back(std::move(in));
        }
    }
    std::atomic<int> nReady{0};
    std::atomic<int> nWrong{0};
    auto run = [&](const Job& job) {
        nReady.fetch_add(1);
        for (int spins = 0; nReady.load() < 2 && spins < 10000000; ++spins) {
            std::this_thread::yield();
        }
        for (int round = 0; round < 20; ++round) {
            for (size_t i = 0; i < job.vecIn.size(); ++i) {
                const Bytes& in = job.vecIn[i];
                const int n = static_cast<int>(in.size());
                const uint8_t* pX = CRQBLUtil::XORDecrypt(in.data(), n, key, false, false);
                int nOut = 0;
                const uint8_t* pS = CRQBLUtil::SEEDEncrypt(in.data(), n, &nOut, false);
                if (pX == nullptr || pS == nullptr || Bytes(pX, pX + n) != job.vecXor[i] ||
                    Bytes(pS, pS + nOut) != job.vecSeed[i]) {
                    nWrong.fetch_add(1);
                }
            }
        }
        CRQBLUtil::XORDecrypt(nullptr, 0, key, false, true);
        CRQBLUtil::SEEDEncrypt(nullptr, 0, nullptr, true);
    };
    std::thread first(run, std::cref(jobs[0]));
    std::thread second(run, std::cref(jobs[1]));
    first.join();
    second.join();
    EXPECT_EQ(nWrong.load(), 0);
}

TEST(LogKey, IsTheThreeFixedWords) {
    EXPECT_EQ(RQBLLogKey(), std::vector<int32_t>(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY)));
}
