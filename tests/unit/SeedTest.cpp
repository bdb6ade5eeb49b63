#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeed.h"
#include "baselib/log/RQBLSeedCbc.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const char* pszHex) {
    Bytes v;
    for (size_t i = 0; pszHex[i] != '\0' && pszHex[i + 1] != '\0'; i += 2) {
        v.push_back(static_cast<uint8_t>(std::stoul(std::string(pszHex + i, 2), nullptr, 16)));
    }
    return v;
}

Bytes Pattern(size_t n, uint8_t bySeed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(bySeed + i * 37);
    }
    return v;
}

Bytes EncryptKeyed(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    Bytes out(plain.size() + SEED_BLOCK_BYTES + 16, 0xEE);
    int nOut = -1;
    EXPECT_EQ(SeedCbcEncryptKeyed(key.data(), iv.data(), plain.data(), static_cast<int>(plain.size()),
                                  out.data(), &nOut),
              1);
    out.resize(nOut < 0 ? 0 : static_cast<size_t>(nOut));
    return out;
}

// RFC 4269 appendix B, plus one known answer that other implementations use.
struct Kat {
    const char* pszKey;
    const char* pszPlain;
    const char* pszCipher;
};
constexpr Kat kKats[] = {
    {"00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F",
     "5EBAC6E0054E166819AFF1CC6D346CDB"},
    {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000",
     "C11F22F20140505084483597E4370F43"},
    {"4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D",
     "EE54D13EBCAE706D226BC3142CD40D4A"},
    {"28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7",
     "9B9B7BFCD1813CB95D0B3618F40F5122"},
    {"0E0E0E0E0E0E0E0E0E0E0E0E0E0E0E0E", "0E0E0E0E0E0E0E0E0E0E0E0E0E0E0E0E",
     "8296F2F1B007AB9D533FDEE35A9AD850"},
};

}  // namespace

TEST(SeedBlock, KnownAnswersBothDirections) {
    for (const Kat& kat : kKats) {
        Bytes key = Hex(kat.pszKey), plain = Hex(kat.pszPlain), cipher = Hex(kat.pszCipher);
        uint32_t adwRoundKey[SEED_ROUND_KEY_WORDS];
        SeedKeySchedule(key.data(), adwRoundKey);
        uint8_t abyOut[SEED_BLOCK_BYTES];
        SeedEncryptBlock(adwRoundKey, plain.data(), abyOut);
        EXPECT_EQ(Bytes(abyOut, abyOut + 16), cipher) << kat.pszKey;
        SeedDecryptBlock(adwRoundKey, cipher.data(), abyOut);
        EXPECT_EQ(Bytes(abyOut, abyOut + 16), plain) << kat.pszKey;
        // In place, as the CBC layer may call it.
        std::memcpy(abyOut, plain.data(), 16);
        SeedEncryptBlock(adwRoundKey, abyOut, abyOut);
        EXPECT_EQ(Bytes(abyOut, abyOut + 16), cipher) << kat.pszKey;
    }
}

TEST(SeedCbc, OutputIsOneBlockMoreThanTheWholeBlocksOfTheInput) {
    const struct {
        int nIn;
        int nOut;
    } cases[] = {{1, 16},  {4, 16},  {14, 16}, {15, 16}, {16, 32}, {20, 32},  {31, 32},  {32, 48},
                 {33, 48}, {48, 64}, {63, 64}, {64, 80}, {65, 80}, {96, 112}, {300, 304}};
    for (const auto& c : cases) {
        Bytes in = Pattern(static_cast<size_t>(c.nIn), 3);
        Bytes out(in.size() + 16);
        int nOut = 0;
        ASSERT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, in.data(), c.nIn, out.data(), &nOut),
                  1);
        EXPECT_EQ(nOut, c.nOut) << c.nIn;
    }
}

TEST(SeedCbc, TheRecordCipherRunsWithTheFixedKeyWhateverItIsGiven) {
    Bytes in = Pattern(77, 9);
    Bytes expected =
        EncryptKeyed(Bytes(RQBL_SEED_KEY, RQBL_SEED_KEY + 16), Bytes(RQBL_SEED_IV, RQBL_SEED_IV + 16), in);
    const uint8_t abyOther[16] = {1, 2, 3};
    for (const uint8_t* pArg : {RQBL_SEED_ARG_KEY, abyOther, RQBL_SEED_KEY}) {
        Bytes out(in.size() + 16);
        int nOut = 0;
        ASSERT_EQ(SeedCbcEncrypt(pArg, pArg, in.data(), 77, out.data(), &nOut), 1);
        out.resize(static_cast<size_t>(nOut));
        EXPECT_EQ(out, expected);
    }
}

TEST(SeedCbc, FailuresLeaveTheOutputLengthAlone) {
    Bytes in = Pattern(20, 1);
    Bytes out(64);
    int nOut = -7;
    EXPECT_EQ(SeedCbcEncrypt(nullptr, RQBL_SEED_ARG_IV, in.data(), 20, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, nullptr, in.data(), 20, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, nullptr, 20, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, in.data(), 20, nullptr, &nOut), 0);
    // Nothing to encipher: refused rather than padding data that is not there.
    EXPECT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, in.data(), 0, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, in.data(), -1, out.data(), &nOut), 0);
    EXPECT_EQ(nOut, -7);

    SEED_CBC_CONTEXT ctx;
    EXPECT_EQ(SeedCbcBegin(&ctx, SEED_DIR_ENCRYPT, nullptr, RQBL_SEED_ARG_IV), 0);
    EXPECT_EQ(SeedCbcBegin(nullptr, SEED_DIR_ENCRYPT, RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV), 0);
    ASSERT_EQ(SeedCbcBegin(&ctx, SEED_DIR_ENCRYPT, RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV), 1);
    EXPECT_EQ(SeedCbcUpdate(&ctx, in.data(), -1, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcUpdate(&ctx, nullptr, 16, out.data(), &nOut), 0);
    EXPECT_EQ(SeedCbcFinish(&ctx, nullptr, &nOut), 0);
    EXPECT_EQ(nOut, 0);
}

TEST(SeedCbc, IncrementalCallsMatchTheOneShot) {
    const Bytes key = Hex("0F1E2D3C4B5A69788796A5B4C3D2E1F0"), iv = Hex("00112233445566778899AABBCCDDEEFF");
    Bytes in = Pattern(53, 5);
    Bytes expected = EncryptKeyed(key, iv, in);

    SEED_CBC_CONTEXT ctx;
    ASSERT_EQ(SeedCbcBeginKeyed(&ctx, SEED_DIR_ENCRYPT, key.data(), iv.data()), 1);
    Bytes out(80);
    int nTotal = 0, nPiece = 0;
    ASSERT_EQ(SeedCbcUpdate(&ctx, in.data(), 16, out.data(), &nPiece), 1);
    nTotal += nPiece;
    ASSERT_EQ(SeedCbcUpdate(&ctx, in.data() + 16, 37, out.data() + nTotal, &nPiece), 1);
    nTotal += nPiece;
    EXPECT_EQ(nTotal, 48);
    ASSERT_EQ(SeedCbcFinish(&ctx, out.data() + nTotal, &nPiece), 1);
    out.resize(static_cast<size_t>(nTotal + nPiece));
    EXPECT_EQ(out, expected);
}

TEST(SeedCbc, PendingBytesAreReplacedNotJoined) {
    // The trap the one-shot avoids by feeding whole blocks until the last piece.
    const Bytes key = Hex("0F1E2D3C4B5A69788796A5B4C3D2E1F0"), iv = Hex("00112233445566778899AABBCCDDEEFF");
    Bytes in = Pattern(8, 1);
    SEED_CBC_CONTEXT ctx;
    ASSERT_EQ(SeedCbcBeginKeyed(&ctx, SEED_DIR_ENCRYPT, key.data(), iv.data()), 1);
    uint8_t abyOut[16];
    int nOut = 0;
    ASSERT_EQ(SeedCbcUpdate(&ctx, in.data(), 5, abyOut, &nOut), 1);
    EXPECT_EQ(nOut, 0);
    ASSERT_EQ(SeedCbcUpdate(&ctx, in.data() + 5, 3, abyOut, &nOut), 1);
    ASSERT_EQ(SeedCbcFinish(&ctx, abyOut, &nOut), 1);
    EXPECT_EQ(Bytes(abyOut, abyOut + 16), EncryptKeyed(key, iv, Bytes(in.begin() + 5, in.end())));
}

TEST(SeedCbc, DecipheringRestoresEveryLength) {
    const Bytes key = Hex("28DBC3BC49FFD87DCFA509B11D422BE7"), iv = Hex("B41E6BE2EBA84A148E2EED84593C5EC7");
    for (size_t n = 1; n <= 100; ++n) {
        Bytes in = Pattern(n, static_cast<uint8_t>(n));
        Bytes cipher = EncryptKeyed(key, iv, in);
        Bytes plain(cipher.size());
        int nPlain = -1;
        ASSERT_EQ(SeedCbcDecryptKeyed(key.data(), iv.data(), cipher.data(), static_cast<int>(cipher.size()),
                                      plain.data(), &nPlain),
                  1)
            << n;
        plain.resize(static_cast<size_t>(nPlain));
        EXPECT_EQ(plain, in) << n;
    }
}

TEST(SeedCbc, WholeBlockInputGetsAFullPaddingBlock) {
    const Bytes key = Hex("000102030405060708090A0B0C0D0E0F"), iv(16, 0);
    Bytes in = Pattern(16, 0);
    Bytes cipher = EncryptKeyed(key, iv, in);
    ASSERT_EQ(cipher.size(), 32u);
    SEED_CBC_CONTEXT ctx;
    ASSERT_EQ(SeedCbcBeginKeyed(&ctx, SEED_DIR_DECRYPT, key.data(), iv.data()), 1);
    Bytes plain(32);
    int nOut = 0;
    ASSERT_EQ(SeedCbcUpdate(&ctx, cipher.data(), 32, plain.data(), &nOut), 1);
    ASSERT_EQ(nOut, 32);
    EXPECT_EQ(Bytes(plain.begin() + 16, plain.end()), Bytes(16, 16));
    // Finish in this direction takes the end of the data and clears the padding
    // bytes before it.
    int nDrop = 0;
    ASSERT_EQ(SeedCbcFinish(&ctx, plain.data() + 32, &nDrop), 1);
    EXPECT_EQ(nDrop, 16);
    EXPECT_EQ(Bytes(plain.begin() + 16, plain.end()), Bytes(16, 0));
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 16), in);
}

TEST(SeedCbc, UnsoundPaddingOrLengthIsRefused) {
    const Bytes key = Hex("4706480851E61BE85D74BFB3FD956185"), iv = Hex("83A2F8A288641FB9A4E9A5CC2F131C7D");
    uint32_t adwRoundKey[SEED_ROUND_KEY_WORDS];
    SeedKeySchedule(key.data(), adwRoundKey);
    // One block enciphered by hand (CBC of a single block: XOR with the IV).
    auto block = [&](Bytes plain) {
        for (size_t i = 0; i < 16; ++i) {
            plain[i] ^= iv[i];
        }
        Bytes out(16);
        SeedEncryptBlock(adwRoundKey, plain.data(), out.data());
        return out;
    };
    auto decrypts = [&](const Bytes& cipher) {
        Bytes plain(cipher.size() + 16);
        int nPlain = 0;
        return SeedCbcDecryptKeyed(key.data(), iv.data(), cipher.data(), static_cast<int>(cipher.size()),
                                   plain.data(), &nPlain) == 1;
    };
    Bytes good = Pattern(16, 0);
    for (size_t i = 13; i < 16; ++i) {
        good[i] = 3;
    }
    EXPECT_TRUE(decrypts(block(good)));
    Bytes zero = good;
    zero[15] = 0;
    EXPECT_FALSE(decrypts(block(zero)));
    Bytes big = good;
    big[15] = 17;
    EXPECT_FALSE(decrypts(block(big)));
    Bytes mixed = good;
    mixed[13] = 4;  // the last byte says 3, one of the three says otherwise
    EXPECT_FALSE(decrypts(block(mixed)));

    Bytes cipher = EncryptKeyed(key, iv, Pattern(40, 2));
    EXPECT_FALSE(decrypts(Bytes(cipher.begin(), cipher.end() - 1)));  // not whole blocks
    EXPECT_FALSE(decrypts(Bytes()));
    Bytes damaged = cipher;
    damaged[damaged.size() - 3] ^= 0x40;  // the last block: its padding turns to noise
    EXPECT_FALSE(decrypts(damaged));
}
