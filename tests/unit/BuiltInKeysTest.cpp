#include <gtest/gtest.h>

#include <vector>

#include "launcher/keys/RQBuiltInKeys.h"
#include "patch/RQScriptSignature.h"

// This program is built with the two committed test keys as its key list
// (tests/CMakeLists.txt); each one arrives whole and in order, the ";" between
// them having passed through the build.
TEST(BuiltInKeys, TheBuildsKeyListArrivesWhole) {
    RQ_PUBLIC_KEY release{};
    RQ_PUBLIC_KEY other{};
    ASSERT_TRUE(RQParsePublicKey(RQ_TEST_RELEASE_KEY, release));
    ASSERT_TRUE(RQParsePublicKey(RQ_TEST_OTHER_KEY, other));
    EXPECT_EQ(RQBuiltInTrustedKeys(), (std::vector<RQ_PUBLIC_KEY>{release, other}));
}
