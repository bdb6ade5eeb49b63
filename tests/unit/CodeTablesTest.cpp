#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "RQLuaTestUtil.h"
#include "baselib/RQBLCrc32.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQPatchManifest.h"

namespace {

class CodeTablesTest : public ::testing::Test {
protected:
    RQTestTempDir m_dir;
    RQLogCapture m_log;
    CRQLuaTable m_table{m_log};
    std::map<std::wstring, CODE_INFO> m_mapCodeInfo;
    std::map<std::wstring, CODE_INFO> m_mapDeleteInfo;

    bool Read(const std::string& strScript) {
        EXPECT_TRUE(RunScript(m_table, strScript, "PATCHER_CODE.LUA"));
        const int nTop = lua_gettop(m_table.GetLuaState());
        bool bResult = RQReadCodeTables(&m_table, m_mapCodeInfo, m_mapDeleteInfo, m_log);
        // Every table opened on the way was closed again, whatever the path.
        EXPECT_EQ(m_table.GetTableDepth(), 0);
        EXPECT_EQ(lua_gettop(m_table.GetLuaState()), nTop);
        return bResult;
    }

    std::vector<std::wstring> Keys(const std::map<std::wstring, CODE_INFO>& map) const {
        std::vector<std::wstring> v;
        for (const auto& entry : map) {
            v.push_back(entry.first);
        }
        return v;
    }
};

TEST_F(CodeTablesTest, SlotsFillTheirFieldsInOrder) {
    ASSERT_TRUE(
        Read("CODE_TABLE = { { 'data\\\\', 'a.dat', 3735928559, -4, 123456789012, 6, 7, 8, 0, 10, 1, 2, "
             "'ab01' } }"));
    ASSERT_EQ(m_mapCodeInfo.size(), 1u);
    const CODE_INFO& info = m_mapCodeInfo.at(L"a.dat");
    EXPECT_EQ(info.strPath, L"data\\");
    EXPECT_EQ(info.strFileName, L"a.dat");
    EXPECT_EQ(info.dwCRC, 3735928559u);
    EXPECT_EQ(info.nValue4, -4);
    EXPECT_EQ(info.ullFileSize, 123456789012u);
    EXPECT_EQ(info.ullValue6, 6u);
    EXPECT_EQ(info.nValue7, 7);
    EXPECT_EQ(info.nValue8, 8);
    EXPECT_FALSE(info.bValue9);
    EXPECT_EQ(info.dwValue10, 10u);
    EXPECT_TRUE(info.bValue11);
    EXPECT_TRUE(info.bValue12);
    EXPECT_EQ(info.strSHA256, L"ab01");
    EXPECT_TRUE(m_mapDeleteInfo.empty());  // no DELETE_CODE_TABLE is no failure
}

TEST_F(CodeTablesTest, MissingAndMistypedSlotsKeepTheirDefaults) {
    // Entry 1 has only a name (so it describes an empty file); entry 2 has
    // wrong types everywhere, including Lua booleans in flag slots; entry 3
    // has no name at all and is taken under the empty one.
    ASSERT_TRUE(
        Read("CODE_TABLE = {\n"
             "  { '', 'empty.dat' },\n"
             "  { {}, 'typed.dat', 'abc', 'x', {}, 'y', true, false, false, 'z', true, true },\n"
             "  { 'dir\\\\' },\n"
             "}"));
    ASSERT_EQ(m_mapCodeInfo.size(), 3u);
    const CODE_INFO& empty = m_mapCodeInfo.at(L"empty.dat");
    EXPECT_EQ(empty.dwCRC, 0u);
    EXPECT_EQ(empty.ullFileSize, 0u);
    EXPECT_TRUE(empty.bValue9);
    EXPECT_FALSE(empty.bValue11);

    const CODE_INFO& typed = m_mapCodeInfo.at(L"typed.dat");
    EXPECT_EQ(typed.strPath, L"");
    EXPECT_EQ(typed.dwCRC, 0u);
    EXPECT_EQ(typed.nValue4, 0);
    EXPECT_EQ(typed.ullFileSize, 0u);
    EXPECT_EQ(typed.ullValue6, 0u);
    EXPECT_TRUE(typed.bValue9);  // Lua false does not clear the default
    EXPECT_FALSE(typed.bValue11);
    EXPECT_EQ(typed.dwValue10, 0u);

    EXPECT_EQ(m_mapCodeInfo.at(L"").strPath, L"dir\\");

    // Non-numeric strings in number slots, each logged with its slot.
    std::vector<std::wstring> lines;
    for (const auto& line : m_log.m_lines) {
        EXPECT_EQ(line.first, 10035);
        lines.push_back(line.second);
    }
    EXPECT_EQ(lines,
              (std::vector<std::wstring>{L"WrongType 3", L"WrongType 4", L"WrongType 6", L"WrongType 10"}));
}

TEST_F(CodeTablesTest, WalkStopsAtTheFirstGap) {
    ASSERT_TRUE(Read("CODE_TABLE = { [1] = { '', 'one' }, [2] = { '', 'two' }, [4] = { '', 'four' } }"));
    EXPECT_EQ(Keys(m_mapCodeInfo), (std::vector<std::wstring>{L"one", L"two"}));
}

TEST_F(CodeTablesTest, FirstEntryOfAFileNameWinsWhateverItsFolder) {
    ASSERT_TRUE(
        Read("CODE_TABLE = { { 'a\\\\', 'x.dat', 1 }, { 'b\\\\', 'x.dat', 2 }, { 'a\\\\', 'x.dat', 3 } }"));
    ASSERT_EQ(m_mapCodeInfo.size(), 1u);
    EXPECT_EQ(m_mapCodeInfo.at(L"x.dat").strPath, L"a\\");
    EXPECT_EQ(m_mapCodeInfo.at(L"x.dat").dwCRC, 1u);
}

TEST_F(CodeTablesTest, EntriesAreOrderedByCodeUnit) {
    ASSERT_TRUE(Read("CODE_TABLE = { { '', 'a.dat2' }, { '', 'a.dat' }, { '', 'B.DAT' } }"));
    EXPECT_EQ(Keys(m_mapCodeInfo), (std::vector<std::wstring>{L"B.DAT", L"a.dat", L"a.dat2"}));
}

TEST_F(CodeTablesTest, DeleteListIsKeyedByFullPathAndReadsThreeSlots) {
    ASSERT_TRUE(
        Read("CODE_TABLE = {}\n"
             "DELETE_CODE_TABLE = { { 'a\\\\', 'x.dat', 5, 0, 999 }, { 'b\\\\', 'x.dat', 6 },\n"
             "  { 'a\\\\', 'x.dat', 7 }, { '', 'a\\\\x.dat', 8 } }"));
    EXPECT_TRUE(m_mapCodeInfo.empty());
    EXPECT_EQ(Keys(m_mapDeleteInfo), (std::vector<std::wstring>{L"a\\x.dat", L"b\\x.dat"}));
    const CODE_INFO& first = m_mapDeleteInfo.at(L"a\\x.dat");
    EXPECT_EQ(first.dwCRC, 5u);  // the first of three entries with this path
    EXPECT_EQ(first.strFileName, L"x.dat");
    EXPECT_EQ(first.ullFileSize, 0u);  // slot 5 is not read for deletions
}

TEST_F(CodeTablesTest, NoCodeTableIsAFailureWithEmptyMaps) {
    EXPECT_FALSE(Read("DELETE_CODE_TABLE = { { '', 'x' } }"));
    EXPECT_FALSE(Read("CODE_TABLE = 'not a table' DELETE_CODE_TABLE = { { '', 'x' } }"));
    EXPECT_TRUE(m_mapCodeInfo.empty());
    EXPECT_TRUE(m_mapDeleteInfo.empty());
    EXPECT_FALSE(RQReadCodeTables(nullptr, m_mapCodeInfo, m_mapDeleteInfo, m_log));
}

TEST_F(CodeTablesTest, EntriesThatAreNoTablesEndTheWalkInBothLists) {
    ASSERT_TRUE(
        Read("CODE_TABLE = { { '', 'a' }, 'b', { '', 'c' } }\n"
             "DELETE_CODE_TABLE = { 5, { '', 'd' } }"));
    EXPECT_EQ(Keys(m_mapCodeInfo), (std::vector<std::wstring>{L"a"}));
    EXPECT_TRUE(m_mapDeleteInfo.empty());
}

TEST_F(CodeTablesTest, EntryWithoutSizeAndCrcMatchesAnEmptyLocalFile) {
    ASSERT_TRUE(Read("CODE_TABLE = { { '', 'empty.dat' }, { '', 'max.dat', 4294967295 } }"));
    RQTestTempDir::WriteAll("empty.dat", "");
    CRQBLCrc32 crc;
    uint32_t dwCrc = 1;
    EXPECT_TRUE(crc.GetFileCrc(L"empty.dat", dwCrc));
    EXPECT_EQ(dwCrc, m_mapCodeInfo.at(L"empty.dat").dwCRC);
    EXPECT_EQ(m_mapCodeInfo.at(L"empty.dat").ullFileSize, 0u);
    // A file that cannot be opened reads as 0xFFFFFFFF, so it matches slot 3 of 4294967295.
    EXPECT_FALSE(crc.GetFileCrc(L"max.dat", dwCrc));
    EXPECT_EQ(dwCrc, m_mapCodeInfo.at(L"max.dat").dwCRC);
}

}  // namespace

// A launcher with keys needs every entry's SHA-256 as a string of 64
// hexadecimal digits: anything else refuses the whole script, naming the entry.
TEST_F(CodeTablesTest, StrongHashRuleRefusesEntriesWithoutAValidSlot13) {
    const std::string strHash(64, 'a');
    const std::vector<std::pair<std::string, bool>> vecSlots = {
        {"'" + strHash + "'", true},
        {"'" + std::string(64, 'F') + "'", true},  // either case, as before
        {"nil", false},
        {"1.5e300", false},  // a number is no text, not even one that prints as digits
        {"'" + strHash.substr(1) + "'", false},
        {"'" + strHash + "0'", false},
        {"'" + strHash.substr(1) + "g'", false},
        {"{ '" + strHash + "' }", false},
        {"'" + strHash.substr(0, 32) + "\\0" + strHash.substr(33) + "'", false},
    };
    for (const auto& [strSlot, bValid] : vecSlots) {
        SCOPED_TRACE(strSlot);
        CRQLuaTable table(m_log);
        ASSERT_TRUE(RunScript(table,
                              "CODE_TABLE = { { '', 'ok.dat', 1, 0, 2, [13] = '" + strHash +
                                  "' }, { 'data/', 'b.dat', 1, 0, 2, [13] = " + strSlot + " } }",
                              "PATCHER_CODE.LUA"));
        std::map<std::wstring, CODE_INFO> mapCode;
        std::map<std::wstring, CODE_INFO> mapDelete;
        RQ_MANIFEST_RULES rules;
        rules.bRequireSha256 = true;
        std::wstring strBad;
        const RQManifestRead read = RQReadManifest(table, mapCode, mapDelete, m_log, rules, strBad);
        EXPECT_EQ(read, bValid ? RQManifestRead::OK : RQManifestRead::SHA256_MISSING);
        EXPECT_EQ(mapCode.size(), bValid ? 2u : 0u);
        EXPECT_EQ(strBad, bValid ? L"" : L"data/b.dat");
        EXPECT_EQ(table.GetTableDepth(), 0);
        // Without the rule (no keys), the entry is read as before.
        rules.bRequireSha256 = false;
        EXPECT_EQ(RQReadManifest(table, mapCode, mapDelete, m_log, rules, strBad), RQManifestRead::OK);
    }
}
