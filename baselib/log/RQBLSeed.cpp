#include "baselib/log/RQBLSeed.h"

#include <array>

namespace {

// The four 256-word tables SS0..SS3 are derived here, at compile time, from
// the algebraic definition of SEED's two S-boxes rather than typed in: a typo
// in 1024 hand-copied words would only show as a wrong cipher, while a wrong
// derivation fails the published known answers at once.
//
//   S1(x) = A1 * x^247 + 169,  S2(x) = A2 * x^251 + 56
//
// over GF(2^8) with the polynomial x^8 + x^6 + x^5 + x + 1, where A1 and A2 are
// 8x8 bit matrices. Row i of a matrix gives output bit i (bit 0 the least
// significant); the j-th digit of a row, counted from the left, takes input
// bit j.

constexpr unsigned kFieldPolynomial = 0x163;

constexpr const char* kA1[8] = {"00101000", "00010001", "10000100", "10100010",
                                "01000010", "10100001", "01111111", "01010001"};
constexpr const char* kA2[8] = {"00101000", "01000010", "00010001", "01010001",
                                "10000100", "01111111", "10100001", "10100010"};

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
    unsigned r = 0;
    unsigned aa = a;
    for (unsigned bb = b; bb != 0; bb >>= 1) {
        if (bb & 1u) {
            r ^= aa;
        }
        aa <<= 1;
        if (aa & 0x100u) {
            aa ^= kFieldPolynomial;
        }
    }
    return static_cast<uint8_t>(r);
}

constexpr uint8_t GfPow(uint8_t x, unsigned e) {
    uint8_t r = 1;
    uint8_t base = x;
    for (; e != 0; e >>= 1) {
        if (e & 1u) {
            r = GfMul(r, base);
        }
        base = GfMul(base, base);
    }
    return r;
}

constexpr uint8_t Affine(const char* const* ppRows, uint8_t v) {
    unsigned out = 0;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned bit = 0;
        for (unsigned j = 0; j < 8; ++j) {
            if (ppRows[i][j] == '1') {
                bit ^= (v >> j) & 1u;
            }
        }
        out |= bit << i;
    }
    return static_cast<uint8_t>(out);
}

constexpr uint8_t S1(uint8_t x) {
    return static_cast<uint8_t>(Affine(kA1, GfPow(x, 247)) ^ 169);
}
constexpr uint8_t S2(uint8_t x) {
    return static_cast<uint8_t>(Affine(kA2, GfPow(x, 251)) ^ 56);
}

// The G function's byte masks. Output byte k of G takes every input byte's
// S-box value through a different mask, which the tables fold in.
constexpr uint32_t M0 = 0xfc, M1 = 0xf3, M2 = 0xcf, M3 = 0x3f;

constexpr uint32_t Pack(uint32_t s, uint32_t m3, uint32_t m2, uint32_t m1, uint32_t m0) {
    return ((s & m3) << 24) | ((s & m2) << 16) | ((s & m1) << 8) | (s & m0);
}

using Table = std::array<uint32_t, 256>;

struct Tables {
    Table ss0{}, ss1{}, ss2{}, ss3{};
};

constexpr Tables BuildTables() {
    Tables t;
    for (unsigned x = 0; x < 256; ++x) {
        const uint32_t s1 = S1(static_cast<uint8_t>(x));
        const uint32_t s2 = S2(static_cast<uint8_t>(x));
        t.ss0[x] = Pack(s1, M3, M2, M1, M0);
        t.ss1[x] = Pack(s2, M0, M3, M2, M1);
        t.ss2[x] = Pack(s1, M1, M0, M3, M2);
        t.ss3[x] = Pack(s2, M2, M1, M0, M3);
    }
    return t;
}

constexpr Tables kSS = BuildTables();

// Spot checks against the first entries of the published tables.
static_assert(kSS.ss0[0] == 0x2989a1a8u && kSS.ss0[1] == 0x05858184u, "SS0 derivation");
static_assert(kSS.ss1[0] == 0x38380830u, "SS1 derivation");

// The key schedule's round constants: the golden-ratio word rotated left by
// one bit per round.
constexpr uint32_t kKC[16] = {0x9e3779b9, 0x3c6ef373, 0x78dde6e6, 0xf1bbcdcc, 0xe3779b99, 0xc6ef3733,
                              0x8dde6e67, 0x1bbcdccf, 0x3779b99e, 0x6ef3733c, 0xdde6e678, 0xbbcdccf1,
                              0x779b99e3, 0xef3733c6, 0xde6e678d, 0xbcdccf1b};

constexpr bool ConstantsRotate() {
    for (int i = 1; i < 16; ++i) {
        if (kKC[i] != ((kKC[i - 1] << 1) | (kKC[i - 1] >> 31))) {
            return false;
        }
    }
    return true;
}
static_assert(ConstantsRotate(), "round constants");

inline uint32_t G(uint32_t x) {
    return kSS.ss0[x & 0xff] ^ kSS.ss1[(x >> 8) & 0xff] ^ kSS.ss2[(x >> 16) & 0xff] ^ kSS.ss3[x >> 24];
}

inline uint32_t LoadBE(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void StoreBE(uint32_t v, uint8_t* p) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// One Feistel round: the 64-bit half (l0, l1) takes F of the other half.
inline void Round(uint32_t& l0, uint32_t& l1, uint32_t r0, uint32_t r1, const uint32_t* pK) {
    uint32_t t0 = r0 ^ pK[0];
    uint32_t t1 = r1 ^ pK[1];
    t1 ^= t0;
    t1 = G(t1);
    t0 += t1;
    t0 = G(t0);
    t1 += t0;
    t1 = G(t1);
    t0 += t1;
    l0 ^= t0;
    l1 ^= t1;
}

}  // namespace

void SeedKeySchedule(const uint8_t* pKey, uint32_t* pdwRoundKey) {
    uint32_t k0 = LoadBE(pKey), k1 = LoadBE(pKey + 4), k2 = LoadBE(pKey + 8), k3 = LoadBE(pKey + 12);
    for (int i = 0; i < 16; ++i) {
        pdwRoundKey[2 * i] = G(k0 + k2 - kKC[i]);
        pdwRoundKey[2 * i + 1] = G(k1 - k3 + kKC[i]);
        if (i % 2 == 0) {
            // Rounds 1, 3, 5...: the left 64 bits rotate right by one byte.
            const uint32_t t = k0;
            k0 = (k0 >> 8) | (k1 << 24);
            k1 = (k1 >> 8) | (t << 24);
        } else {
            // Rounds 2, 4, 6...: the right 64 bits rotate left by one byte.
            const uint32_t t = k2;
            k2 = (k2 << 8) | (k3 >> 24);
            k3 = (k3 << 8) | (t >> 24);
        }
    }
}

// The rounds are written out: a log line of a few hundred bytes goes through
// them dozens of times while the log lock is held.
void SeedEncryptBlock(const uint32_t* pK, const uint8_t* pIn, uint8_t* pOut) {
    uint32_t l0 = LoadBE(pIn), l1 = LoadBE(pIn + 4), r0 = LoadBE(pIn + 8), r1 = LoadBE(pIn + 12);
    Round(l0, l1, r0, r1, pK + 0);
    Round(r0, r1, l0, l1, pK + 2);
    Round(l0, l1, r0, r1, pK + 4);
    Round(r0, r1, l0, l1, pK + 6);
    Round(l0, l1, r0, r1, pK + 8);
    Round(r0, r1, l0, l1, pK + 10);
    Round(l0, l1, r0, r1, pK + 12);
    Round(r0, r1, l0, l1, pK + 14);
    Round(l0, l1, r0, r1, pK + 16);
    Round(r0, r1, l0, l1, pK + 18);
    Round(l0, l1, r0, r1, pK + 20);
    Round(r0, r1, l0, l1, pK + 22);
    Round(l0, l1, r0, r1, pK + 24);
    Round(r0, r1, l0, l1, pK + 26);
    Round(l0, l1, r0, r1, pK + 28);
    Round(r0, r1, l0, l1, pK + 30);
    // No swap after the last round: the halves leave in exchanged order.
    StoreBE(r0, pOut);
    StoreBE(r1, pOut + 4);
    StoreBE(l0, pOut + 8);
    StoreBE(l1, pOut + 12);
}

void SeedDecryptBlock(const uint32_t* pK, const uint8_t* pIn, uint8_t* pOut) {
    uint32_t l0 = LoadBE(pIn), l1 = LoadBE(pIn + 4), r0 = LoadBE(pIn + 8), r1 = LoadBE(pIn + 12);
    Round(l0, l1, r0, r1, pK + 30);
    Round(r0, r1, l0, l1, pK + 28);
    Round(l0, l1, r0, r1, pK + 26);
    Round(r0, r1, l0, l1, pK + 24);
    Round(l0, l1, r0, r1, pK + 22);
    Round(r0, r1, l0, l1, pK + 20);
    Round(l0, l1, r0, r1, pK + 18);
    Round(r0, r1, l0, l1, pK + 16);
    Round(l0, l1, r0, r1, pK + 14);
    Round(r0, r1, l0, l1, pK + 12);
    Round(l0, l1, r0, r1, pK + 10);
    Round(r0, r1, l0, l1, pK + 8);
    Round(l0, l1, r0, r1, pK + 6);
    Round(r0, r1, l0, l1, pK + 4);
    Round(l0, l1, r0, r1, pK + 2);
    Round(r0, r1, l0, l1, pK + 0);
    StoreBE(r0, pOut);
    StoreBE(r1, pOut + 4);
    StoreBE(l0, pOut + 8);
    StoreBE(l1, pOut + 12);
}
