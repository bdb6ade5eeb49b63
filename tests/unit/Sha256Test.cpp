#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "baselib/RQBLSha256.h"

namespace {

struct KnownAnswer {
    std::string strMessage;
    const char* pszDigest;
};

// FIPS 180-2 appendix B and the NIST example file: one block, the empty
// message, two blocks (448 and 896 bits), and a million 'a'.
const std::vector<KnownAnswer>& KnownAnswers() {
    static const std::vector<KnownAnswer> s_vec = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pqr"
         "stnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    return s_vec;
}

std::string HexOfPieces(CRQBLSha256& sha, const std::string& strMessage, size_t nPiece) {
    for (size_t i = 0; i < strMessage.size(); i += nPiece) {
        sha.Update(strMessage.data() + i, std::min(nPiece, strMessage.size() - i));
    }
    RQ_SHA256 digest{};
    EXPECT_TRUE(sha.Final(digest));
    return RQBLSha256Hex(digest);
}

}  // namespace

TEST(Sha256, KnownAnswersWholeAndInPiecesOfEverySize) {
    // Pieces that split blocks at odd places, exactly at block ends, and not at all.
    const size_t anPieces[] = {1, 3, 55, 63, 64, 65, 1000, 100000000};
    CRQBLSha256 reused;  // Final starts it over, so one object serves every case
    for (const KnownAnswer& answer : KnownAnswers()) {
        RQ_SHA256 whole{};
        ASSERT_TRUE(CRQBLSha256::Of(answer.strMessage.data(), answer.strMessage.size(), whole));
        EXPECT_EQ(RQBLSha256Hex(whole), answer.pszDigest);
        for (size_t nPiece : anPieces) {
            if (nPiece < 55 && answer.strMessage.size() > 100000) {
                continue;  // a million one-byte calls prove nothing more than the small cases
            }
            EXPECT_EQ(HexOfPieces(reused, answer.strMessage, nPiece), answer.pszDigest)
                << answer.strMessage.size() << " bytes in pieces of " << nPiece;
        }
    }
}

TEST(Sha256, ObjectsOnSeveralThreadsDoNotMeet) {
    const KnownAnswer& answer = KnownAnswers().back();
    std::vector<std::string> vecResults(4);
    std::vector<std::thread> vecThreads;
    for (std::string& strResult : vecResults) {
        vecThreads.emplace_back([&answer, &strResult] {
            CRQBLSha256 sha;
            strResult = HexOfPieces(sha, answer.strMessage, 4096);
        });
    }
    for (std::thread& t : vecThreads) {
        t.join();
    }
    for (const std::string& strResult : vecResults) {
        EXPECT_EQ(strResult, answer.pszDigest);
    }
}

TEST(Sha256, HexTextIsReadOnlyWhenItIsExactlyADigest) {
    const std::string strLower = KnownAnswers().front().pszDigest;
    std::string strUpper = strLower;
    for (char& c : strUpper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    RQ_SHA256 fromLower{};
    RQ_SHA256 fromUpper{};
    ASSERT_TRUE(RQBLParseSha256Hex(strLower, fromLower));
    ASSERT_TRUE(RQBLParseSha256Hex(std::wstring(strUpper.begin(), strUpper.end()), fromUpper));
    EXPECT_EQ(fromLower, fromUpper);
    EXPECT_EQ(RQBLSha256Hex(fromLower), strLower);

    RQ_SHA256 untouched{};
    for (const std::string& strBad : {strLower.substr(1), strLower + "0", std::string(63, '0') + "g",
                                      " " + strLower.substr(1), std::string()}) {
        EXPECT_FALSE(RQBLParseSha256Hex(strBad, untouched)) << strBad;
    }
    EXPECT_FALSE(RQBLParseSha256Hex(std::wstring(63, L'0') + L"\uFF10", untouched));  // a full-width zero
    EXPECT_EQ(untouched, RQ_SHA256{});
}
