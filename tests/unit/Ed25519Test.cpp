#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "baselib/RQBLHex.h"

namespace {

struct Rfc8032Vector {
    const char* pszName;
    const char* pszSecret;
    const char* pszPublic;
    std::string strMessageHex;
    const char* pszSignature;
};

template <size_t N>
std::array<uint8_t, N> Bytes(std::string_view strHex) {
    std::array<uint8_t, N> out{};
    EXPECT_TRUE(RQBLFromHex(strHex, out.data(), N)) << strHex;
    return out;
}

std::vector<uint8_t> Message(const std::string& strHex) {
    std::vector<uint8_t> vec(strHex.size() / 2);
    EXPECT_TRUE(RQBLFromHex(std::string_view(strHex), vec.data(), vec.size()));
    return vec;
}

// RFC 8032 section 7.1: TEST 1, 2, 3, 1024 and SHA(abc).
const std::vector<Rfc8032Vector>& Vectors() {
    static const std::vector<Rfc8032Vector> s_vec = {
        {"TEST 1", "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25"
         "bf5f05"
         "95bbe24655141438e7a100b"},
        {"TEST 2", "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387"
         "b2eaeb"
         "4302aeeb00d291612bb0c00"},
        {"TEST 3", "c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7"
         "c15e97"
         "16ed28dc027beceea1ec40a"},
        {"TEST 1024", "f5e5767cf153319517630f226876b86c8160cc583bc013744c6bf255f5cc0ee5",
         "278117fc144c72340f67d0f2316e8386ceffbf2b2428c9c51fef7c597f1d426e",
         "08b8b2b733424243760fe426a4b54908632110a66c2f6591eabd3345e3e4eb98fa6e264bf09efe12ee50f8f54e9f77b1e35"
         "5f6c50"
         "544e23fb1433ddf73be84d879de7c0046dc4996d9e773f4bc9efe5738829adb26c81b37c93a1b270b20329d658675fc6ea5"
         "34e0810"
         "a4432826bf58c941efb65d57a338bbd2e26640f89ffbc1a858efcb8550ee3a5e1998bd177e93a7363c344fe6b199ee5d02e"
         "82d522c"
         "4feba15452f80288a821a579116ec6dad2b3b310da903401aa62100ab5d1a36553e06203b33890cc9b832f79ef80560ccb9"
         "a39ce76"
         "7967ed628c6ad573cb116dbefefd75499da96bd68a8a97b928a8bbc103b6621fcde2beca1231d206be6cd9ec7aff6f6c94f"
         "cd7204e"
         "d3455c68c83f4a41da4af2b74ef5c53f1d8ac70bdcb7ed185ce81bd84359d44254d95629e9855a94a7c1958d1f8ada5d053"
         "2ed8a5a"
         "a3fb2d17ba70eb6248e594e1a2297acbbb39d502f1a8c6eb6f1ce22b3de1a1f40cc24554119a831a9aad6079cad88425de6"
         "bde1a91"
         "87ebb6092cf67bf2b13fd65f27088d78b7e883c8759d2c4f5c65adb7553878ad575f9fad878e80a0c9ba63bcbcc2732e694"
         "85bbc9c"
         "90bfbd62481d9089beccf80cfe2df16a2cf65bd92dd597b0707e0917af48bbb75fed413d238f5555a7a569d80c3414a8d08"
         "59dc65a"
         "46128bab27af87a71314f318c782b23ebfe808b82b0ce26401d2e22f04d83d1255dc51addd3b75a2b1ae0784504df543af8"
         "969be3e"
         "a7082ff7fc9888c144da2af58429ec96031dbcad3dad9af0dcbaaaf268cb8fcffead94f3c7ca495e056a9b47acdb751fb73"
         "e666c6c"
         "655ade8297297d07ad1ba5e43f1bca32301651339e22904cc8c42f58c30c04aafdb038dda0847dd988dcda6f3bfd15c4b4c"
         "4525004"
         "aa06eeff8ca61783aacec57fb3d1f92b0fe2fd1a85f6724517b65e614ad6808d6f6ee34dff7310fdc82aebfd904b01e1dc5"
         "4b29270"
         "94b2db68d6f903b68401adebf5a7e08d78ff4ef5d63653a65040cf9bfd4aca7984a74d37145986780fc0b16ac451649de61"
         "88a7dbd"
         "f191f64b5fc5e2ab47b57f7f7276cd419c17a3ca8e1b939ae49e488acba6b965610b5480109c8b17b80e1b7b750dfc7598d"
         "5d5011f"
         "d2dcc5600a32ef5b52a1ecc820e308aa342721aac0943bf6686b64b2579376504ccc493d97e6aed3fb0f9cd71a43dd497f0"
         "1f17c0e"
         "2cb3797aa2a2f256656168e6c496afc5fb93246f6b1116398a346f1a641f3b041e989f7914f90cc2c7fff357876e506b50d"
         "334ba77"
         "c225bc307ba537152f3f1610e4eafe595f6d9d90d11faa933a15ef1369546868a7f3a45a96768d40fd9d03412c091c6315c"
         "f4fde7c"
         "b68606937380db2eaaa707b4c4185c32eddcdd306705e4dc1ffc872eeee475a64dfac86aba41c0618983f8741c5ef68d3a1"
         "01e8a3b"
         "8cac60c905c15fc910840b94c00a0b9d0",
         "0aab4c900501b3e24d7cdf4663326a3a87df5e4843b2cbdb67cbf6e460fec350aa5371b1508f9f4528ecea23c436d94b5e8"
         "fcd4f6"
         "81e30a6ac00a9704a188a03"},
        {"SHA(abc)", "833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
         "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454"
         "d4423"
         "643ce80e2a9ac94fa54ca49f",
         "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dc"
         "a179c1"
         "38ac17ad9bef1177331a704"},
    };
    return s_vec;
}

}  // namespace

TEST(Ed25519, Rfc8032KnownAnswers) {
    for (const Rfc8032Vector& v : Vectors()) {
        SCOPED_TRACE(v.pszName);
        const auto secret = Bytes<32>(v.pszSecret);
        const auto expectedPublic = Bytes<32>(v.pszPublic);
        const auto expectedSignature = Bytes<64>(v.pszSignature);
        const std::vector<uint8_t> vecMessage = Message(v.strMessageHex);

        RQ_PUBLIC_KEY key{};
        ASSERT_TRUE(RQBLEd25519PublicKey(secret, key));
        EXPECT_EQ(key, expectedPublic);
        RQ_SIGNATURE signature{};
        ASSERT_TRUE(RQBLEd25519Sign(secret, vecMessage.data(), vecMessage.size(), signature));
        EXPECT_EQ(signature, expectedSignature);
        EXPECT_TRUE(RQBLEd25519Verify(key, vecMessage.data(), vecMessage.size(), signature));
    }
}

TEST(Ed25519, AnyChangedBitIsRefused) {
    const Rfc8032Vector& v = Vectors()[2];
    const auto key = Bytes<32>(v.pszPublic);
    const auto signature = Bytes<64>(v.pszSignature);
    const std::vector<uint8_t> vecMessage = Message(v.strMessageHex);

    std::vector<uint8_t> vecLonger = vecMessage;
    vecLonger.push_back(0);
    EXPECT_FALSE(RQBLEd25519Verify(key, vecLonger.data(), vecLonger.size(), signature));
    for (size_t nBit = 0; nBit < vecMessage.size() * 8; ++nBit) {
        std::vector<uint8_t> vecChanged = vecMessage;
        vecChanged[nBit / 8] ^= static_cast<uint8_t>(1u << (nBit % 8));
        EXPECT_FALSE(RQBLEd25519Verify(key, vecChanged.data(), vecChanged.size(), signature))
            << "bit " << nBit;
    }
    for (size_t nBit = 0; nBit < signature.size() * 8; nBit += 7) {
        RQ_SIGNATURE changed = signature;
        changed[nBit / 8] ^= static_cast<uint8_t>(1u << (nBit % 8));
        EXPECT_FALSE(RQBLEd25519Verify(key, vecMessage.data(), vecMessage.size(), changed)) << "bit " << nBit;
    }
    const auto otherKey = Bytes<32>(Vectors()[1].pszPublic);
    EXPECT_FALSE(RQBLEd25519Verify(otherKey, vecMessage.data(), vecMessage.size(), signature));
}

TEST(Ed25519, NewKeysDifferAndSign) {
    RQ_SECRET_KEY first{};
    RQ_SECRET_KEY second{};
    ASSERT_TRUE(RQBLEd25519NewSecretKey(first));
    ASSERT_TRUE(RQBLEd25519NewSecretKey(second));
    EXPECT_NE(first, second);
    RQ_PUBLIC_KEY key{};
    RQ_SIGNATURE signature{};
    const std::string strMessage = "PATCHER_CODE.LUA";
    ASSERT_TRUE(RQBLEd25519PublicKey(first, key));
    ASSERT_TRUE(RQBLEd25519Sign(first, strMessage.data(), strMessage.size(), signature));
    EXPECT_TRUE(RQBLEd25519Verify(key, strMessage.data(), strMessage.size(), signature));
    RQBLWipe(first.data(), first.size());
    EXPECT_EQ(first, RQ_SECRET_KEY{});
}
