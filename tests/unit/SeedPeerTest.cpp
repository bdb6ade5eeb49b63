// SEED checked against a second implementation: the openssl command line tool,
// run as a child process on temporary files. Only in the native build: the
// Windows test run under Wine has no openssl to ask.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeed.h"
#include "baselib/log/RQBLSeedCbc.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string ToHex(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(kDigits[p[i] >> 4]);
        s.push_back(kDigits[p[i] & 15]);
    }
    return s;
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
    Bytes v(n);
    for (auto& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

class SeedPeerTest : public ::testing::Test {
protected:
    // Runs "openssl enc <mode>" over the input; empty optional when openssl fails.
    std::optional<Bytes> OpenSsl(const std::string& strMode, const uint8_t* pKey, const uint8_t* pIV,
                                 const Bytes& in, bool bDecrypt = false) {
        RQTestTempDir::WriteAll("in.bin", std::string(in.begin(), in.end()));
        std::remove("out.bin");
        std::string strCmd =
            "openssl enc " + strMode + " -provider legacy -provider default -K " + ToHex(pKey, 16);
        if (pIV != nullptr) {
            strCmd += " -iv " + ToHex(pIV, 16);
        }
        strCmd += std::string(bDecrypt ? " -d" : "") + " -in in.bin -out out.bin 2>err.txt";
        if (std::system(strCmd.c_str()) != 0) {
            std::vector<char> err = RQTestTempDir::ReadAll("err.txt");
            m_strLastError.assign(err.begin(), err.end());
            return std::nullopt;
        }
        std::vector<char> out = RQTestTempDir::ReadAll("out.bin");
        return Bytes(out.begin(), out.end());
    }

    // Skips the test where openssl is missing or built without SEED.
    bool PeerAvailable() {
        const uint8_t abyZero[16] = {};
        if (OpenSsl("-seed-cbc", abyZero, abyZero, Bytes(1, 0))) {
            return true;
        }
        return false;
    }

    RQTestTempDir m_dir;
    std::string m_strLastError;
};

#define RQ_REQUIRE_OPENSSL_SEED()                                                                          \
    if (!PeerAvailable()) {                                                                                \
        GTEST_SKIP() << "openssl offers no SEED-CBC here (needs the legacy provider): " << m_strLastError; \
    }

}  // namespace

TEST_F(SeedPeerTest, RecordCipherAgreesWithOpenSslForLengthsOneTo300) {
    RQ_REQUIRE_OPENSSL_SEED();
    std::mt19937 rng(4269);
    for (size_t n = 1; n <= 300; ++n) {
        Bytes in = RandomBytes(rng, n);
        Bytes ours(n + 16);
        int nOut = 0;
        ASSERT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, in.data(), static_cast<int>(n),
                                 ours.data(), &nOut),
                  1);
        ours.resize(static_cast<size_t>(nOut));
        std::optional<Bytes> peer = OpenSsl("-seed-cbc", RQBL_SEED_KEY, RQBL_SEED_IV, in);
        ASSERT_TRUE(peer) << m_strLastError;
        ASSERT_EQ(ours, *peer) << "length " << n;
    }
}

TEST_F(SeedPeerTest, KeyedCipherAgreesWithOpenSslBothWays) {
    RQ_REQUIRE_OPENSSL_SEED();
    std::mt19937 rng(2024);
    for (int nKey = 0; nKey < 3; ++nKey) {
        Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16);
        for (size_t n = 1; n <= 300; n += (n < 40 ? 1 : 23)) {
            Bytes in = RandomBytes(rng, n);
            Bytes ours(n + 16);
            int nOut = 0;
            ASSERT_EQ(SeedCbcEncryptKeyed(key.data(), iv.data(), in.data(), static_cast<int>(n), ours.data(),
                                          &nOut),
                      1);
            ours.resize(static_cast<size_t>(nOut));
            std::optional<Bytes> peer = OpenSsl("-seed-cbc", key.data(), iv.data(), in);
            ASSERT_TRUE(peer) << m_strLastError;
            ASSERT_EQ(ours, *peer) << "key " << nKey << " length " << n;

            Bytes plain(ours.size());
            int nPlain = 0;
            ASSERT_EQ(SeedCbcDecryptKeyed(key.data(), iv.data(), peer->data(), static_cast<int>(peer->size()),
                                          plain.data(), &nPlain),
                      1);
            plain.resize(static_cast<size_t>(nPlain));
            ASSERT_EQ(plain, in);
        }
    }
}

// Every entry of the four derived S-box tables, one by one: in each block the
// first G function of round 1 receives a chosen word, so that across the
// blocks every byte value reaches each of SS0..SS3. A wrong entry changes that
// block's cipher text.
TEST_F(SeedPeerTest, EveryTableEntryAgreesWithOpenSsl) {
    RQ_REQUIRE_OPENSSL_SEED();
    const uint8_t abyKey[16] = {0x47, 0x06, 0x48, 0x08, 0x51, 0xE6, 0x1B, 0xE8,
                                0x5D, 0x74, 0xBF, 0xB3, 0xFD, 0x95, 0x61, 0x85};
    uint32_t adwRoundKey[SEED_ROUND_KEY_WORDS];
    SeedKeySchedule(abyKey, adwRoundKey);
    Bytes plain;
    for (unsigned pass = 0; pass < 2; ++pass) {
        for (unsigned v = 0; v < 256; ++v) {
            // The first G input is R0 ^ K0 ^ R1 ^ K1 with R0 = 0.
            const uint32_t dwWanted =
                pass == 0
                    ? v * 0x01010101u
                    : (v | (((v + 85) & 255) << 8) | (((v + 170) & 255) << 16) | (((v * 7) & 255) << 24));
            const uint32_t r1 = dwWanted ^ adwRoundKey[0] ^ adwRoundKey[1];
            const uint8_t block[16] = {static_cast<uint8_t>(v),
                                       static_cast<uint8_t>(pass),
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       static_cast<uint8_t>(r1 >> 24),
                                       static_cast<uint8_t>(r1 >> 16),
                                       static_cast<uint8_t>(r1 >> 8),
                                       static_cast<uint8_t>(r1)};
            plain.insert(plain.end(), block, block + 16);
        }
    }
    std::optional<Bytes> peer = OpenSsl("-seed-ecb -nopad", abyKey, nullptr, plain);
    ASSERT_TRUE(peer) << m_strLastError;
    ASSERT_EQ(peer->size(), plain.size());
    for (size_t i = 0; i < plain.size(); i += 16) {
        uint8_t abyOut[16];
        SeedEncryptBlock(adwRoundKey, plain.data() + i, abyOut);
        ASSERT_EQ(Bytes(abyOut, abyOut + 16),
                  Bytes(peer->begin() + static_cast<long>(i), peer->begin() + static_cast<long>(i) + 16))
            << "block " << i / 16;
    }
}

#endif  // _WIN32
