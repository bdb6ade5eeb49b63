// The slot's writer: what it is handed arrives whole and in order however the
// pieces fall across its ring, and a write that fails stops the run and says
// so to the network side.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "launcher/transfer/RQBlockWriter.h"

TEST(BlockWriter, PiecesArriveWholeAndInOrderAndAFailureStopsTheRun) {
    std::vector<uint8_t> data(20 * 1024 * 1024 + 12345);
    std::mt19937 random(5);
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(random());
    }
    struct Case {
        const char* pszName;
        size_t nFailAt;  // the written byte count from which the piece fails
    } cases[] = {
        {"nothing fails: every byte, in order", SIZE_MAX},
        {"a write fails midway: the rest is dropped", 9 * 1024 * 1024},
    };
    CRQBlockWriter writer;  // one writer for the runs one after the other, as a slot has
    for (const Case& c : cases) {
        std::vector<uint8_t> written;
        ASSERT_TRUE(writer.Begin([&](const uint8_t* p, size_t n) {
            if (written.size() + n > c.nFailAt) {
                return false;
            }
            written.insert(written.end(), p, p + n);
            return true;
        }));
        bool bTaken = true;
        for (size_t at = 0; at < data.size() && bTaken;) {
            // Pieces of every size up to the transport's largest read.
            const size_t n = std::min<size_t>(data.size() - at, random() % (4 * 1024 * 1024) + 1);
            bTaken = writer.Push(data.data() + at, n);
            at += n;
        }
        const bool bDrained = writer.Drain();
        if (c.nFailAt == SIZE_MAX) {
            EXPECT_TRUE(bTaken && bDrained) << c.pszName;
            EXPECT_TRUE(written == data) << c.pszName;
        } else {
            EXPECT_FALSE(bTaken && bDrained) << c.pszName;
            EXPECT_LE(written.size(), c.nFailAt) << c.pszName;
            EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin())) << c.pszName;
        }
    }
    // After a failed run, a new one starts clean.
    std::string strAfter;
    ASSERT_TRUE(writer.Begin([&](const uint8_t* p, size_t n) {
        strAfter.append(reinterpret_cast<const char*>(p), n);
        return true;
    }));
    EXPECT_TRUE(writer.Push(reinterpret_cast<const uint8_t*>("again"), 5));
    EXPECT_TRUE(writer.Drain());
    EXPECT_EQ(strAfter, "again");
}
