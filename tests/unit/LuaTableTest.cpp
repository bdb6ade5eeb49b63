#include <gtest/gtest.h>

#include <string>

#include "RQLuaTestUtil.h"
#include "script/RQLuaApi.h"
#include "script/RQLuaTinker.h"

namespace {

class LuaTableTest : public ::testing::Test {
protected:
    RQTestTempDir m_dir;
    RQLogCapture m_log;
    CRQLuaTable m_table{m_log};

    int Top() const { return lua_gettop(m_table.GetLuaState()); }
};

// Key 5 holds the non-numeric string of the "WrongType" case.
const char* const kValuesScript =
    "T = { 3.9, -3.9, '12', 4294967295, 'abc', -1, 0.5, 2, true, 12,\n"
    "      2^63, 2^64 - 2048, 'ab\\0cd', '\\227\\129\\130', 1e300, -0.9 }\n";

TEST_F(LuaTableTest, NumbersAreTruncatedTowardZeroIntoEachForm) {
    ASSERT_TRUE(RunScript(m_table, kValuesScript));
    ASSERT_TRUE(m_table.OpenTable("T"));
    int32_t n = 0;
    EXPECT_TRUE(m_table.GetData(1, n));
    EXPECT_EQ(n, 3);
    EXPECT_TRUE(m_table.GetData(2, n));
    EXPECT_EQ(n, -3);
    EXPECT_TRUE(m_table.GetData(16, n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(m_table.GetData(3, n));  // a numeric string
    EXPECT_EQ(n, 12);

    uint32_t dw = 0;
    EXPECT_TRUE(m_table.GetData(4, dw));
    EXPECT_EQ(dw, 0xFFFFFFFFu);
    dw = 0;
    EXPECT_TRUE(m_table.GetData(6, dw));  // -1 keeps its low 32 bits
    EXPECT_EQ(dw, 0xFFFFFFFFu);
    EXPECT_TRUE(m_table.GetData(3, dw));
    EXPECT_EQ(dw, 12u);

    uint64_t ull = 0;
    EXPECT_TRUE(m_table.GetData(11, ull));
    EXPECT_EQ(ull, 9223372036854775808ull);
    EXPECT_TRUE(m_table.GetData(12, ull));
    EXPECT_EQ(ull, 18446744073709549568ull);
    EXPECT_TRUE(m_table.GetData(4, ull));
    EXPECT_EQ(ull, 4294967295ull);
    EXPECT_TRUE(m_table.GetData(3, ull));
    EXPECT_EQ(ull, 12u);

    // Out of range is defined (the processor's "integer indefinite"), not undefined behaviour.
    EXPECT_TRUE(m_table.GetData(15, n));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_TRUE(m_log.m_lines.empty());
}

TEST_F(LuaTableTest, BooleanFormTakesNumbersButNotLuaBooleans) {
    ASSERT_TRUE(RunScript(m_table, kValuesScript));
    ASSERT_TRUE(m_table.OpenTable("T"));
    bool b = true;
    EXPECT_TRUE(m_table.GetData(7, b));  // 0.5 truncates to 0
    EXPECT_FALSE(b);
    EXPECT_TRUE(m_table.GetData(8, b));
    EXPECT_TRUE(b);
    b = false;
    EXPECT_FALSE(m_table.GetData(9, b));  // Lua true is refused
    EXPECT_FALSE(b);
    EXPECT_FALSE(m_table.GetData(5, b));  // "abc": refused, and not logged by this form
    EXPECT_TRUE(m_log.m_lines.empty());
}

TEST_F(LuaTableTest, NonNumericStringIsLoggedByTheIntegerFormsOnly) {
    ASSERT_TRUE(RunScript(m_table, kValuesScript));
    ASSERT_TRUE(m_table.OpenTable("T"));
    const int nTop = Top();
    int32_t n = 77;
    uint32_t dw = 78;
    uint64_t ull = 79;
    EXPECT_FALSE(m_table.GetData(5, n));
    EXPECT_FALSE(m_table.GetData(5, dw));
    EXPECT_FALSE(m_table.GetData(5, ull));
    EXPECT_EQ(n, 77);
    EXPECT_EQ(dw, 78u);
    EXPECT_EQ(ull, 79u);
    ASSERT_EQ(m_log.m_lines.size(), 3u);
    for (const auto& line : m_log.m_lines) {
        EXPECT_EQ(line.first, 10035);
        EXPECT_EQ(line.second, L"WrongType 5");
    }
    // A Lua boolean and a missing slot are refused without a line.
    EXPECT_FALSE(m_table.GetData(9, n));
    EXPECT_FALSE(m_table.GetData(99, n));
    EXPECT_EQ(m_log.m_lines.size(), 3u);
    EXPECT_EQ(Top(), nTop);
}

TEST_F(LuaTableTest, StringFormTakesStringsAndNumbers) {
    ASSERT_TRUE(RunScript(m_table, kValuesScript));
    ASSERT_TRUE(m_table.OpenTable("T"));
    const int nTop = Top();
    std::wstring s = L"keep";
    EXPECT_TRUE(m_table.GetData(10, s, false));
    EXPECT_EQ(s, L"12");
    EXPECT_TRUE(m_table.GetData(1, s, false));
    EXPECT_EQ(s, L"3.9");
    EXPECT_TRUE(m_table.GetData(13, s, false));  // cut at the first zero byte
    EXPECT_EQ(s, L"ab");
    EXPECT_TRUE(m_table.GetData(14, s, true));
    EXPECT_EQ(s, L"\u3042");
    s = L"keep";
    EXPECT_FALSE(m_table.GetData(9, s, false));
    EXPECT_FALSE(m_table.GetData(99, s, false));
    EXPECT_EQ(s, L"keep");
    EXPECT_EQ(Top(), nTop);
    // The slot itself was not turned into a string by the read.
    lua_rawgeti(m_table.GetLuaState(), -1, 10);
    EXPECT_EQ(lua_type(m_table.GetLuaState(), -1), LUA_TNUMBER);
    lua_pop(m_table.GetLuaState(), 1);
}

TEST_F(LuaTableTest, TablesOpenAndCloseInNestedOrder) {
    ASSERT_TRUE(RunScript(m_table, "A = { { 10, { 20 } }, x = { 30 }, n = 5 }  S = 'str'\n"));
    const int nTop = Top();
    int32_t n = 0;
    EXPECT_FALSE(m_table.OpenTable(1));  // no table open
    EXPECT_FALSE(m_table.CloseTable());
    EXPECT_FALSE(m_table.GetData(1, n));
    EXPECT_FALSE(m_table.OpenTable("missing"));
    EXPECT_FALSE(m_table.OpenTable("S"));
    EXPECT_FALSE(m_table.OpenTable(nullptr));
    EXPECT_EQ(Top(), nTop);
    EXPECT_EQ(m_table.GetTableDepth(), 0);

    ASSERT_TRUE(m_table.OpenTable("A"));
    ASSERT_TRUE(m_table.OpenTable(1));
    EXPECT_TRUE(m_table.GetData(1, n));
    EXPECT_EQ(n, 10);
    ASSERT_TRUE(m_table.OpenTable(2));
    EXPECT_TRUE(m_table.GetData(1, n));
    EXPECT_EQ(n, 20);
    EXPECT_EQ(m_table.GetTableDepth(), 3);
    EXPECT_EQ(Top(), nTop + 3);
    EXPECT_FALSE(m_table.OpenTable(1));  // a number, not a table
    EXPECT_EQ(Top(), nTop + 3);
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_TRUE(m_table.CloseTable());
    ASSERT_TRUE(m_table.OpenTable("x"));  // a field of the current table by name
    EXPECT_TRUE(m_table.GetData(1, n));
    EXPECT_EQ(n, 30);
    EXPECT_FALSE(m_table.OpenTable("n"));
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_FALSE(m_table.CloseTable());
    EXPECT_EQ(m_table.GetTableDepth(), 0);
    EXPECT_EQ(Top(), nTop);
}

TEST_F(LuaTableTest, ValuesReturnedByTheScriptStayBelowTheTables) {
    ASSERT_TRUE(RunScript(m_table, "CODE_TABLE = { { 1 } }\nreturn 1, 'two', {}\n"));
    EXPECT_EQ(Top(), 3);
    ASSERT_TRUE(m_table.OpenTable("CODE_TABLE"));
    ASSERT_TRUE(m_table.OpenTable(1));
    EXPECT_EQ(Top(), 5);
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_EQ(Top(), 3);
}

TEST_F(LuaTableTest, ManyReturnedValuesDoNotOverrunTheStack) {
    // The stack ends right above results kept with LUA_MULTRET; the reads
    // must grow it before they push.
    ASSERT_TRUE(RunScript(m_table,
                          "CODE_TABLE = { { 7 } }\nlocal t = {} for i = 1, 7000 do t[i] = i end\n"
                          "return unpack(t)\n"));
    EXPECT_EQ(Top(), 7000);
    ASSERT_TRUE(m_table.OpenTable("CODE_TABLE"));
    ASSERT_TRUE(m_table.OpenTable(1));
    int32_t n = 0;
    EXPECT_TRUE(m_table.GetData(1, n));
    EXPECT_EQ(n, 7);
}

TEST_F(LuaTableTest, MetatablesRunNoScriptCodeDuringReads) {
    // A "strict" global table raises an error for unknown names; the reads
    // are raw, so no such code runs outside a protected call.
    ASSERT_TRUE(
        RunScript(m_table,
                  "CODE_TABLE = setmetatable({ { 1 } }, { __index = function() error('entry') end })\n"
                  "setmetatable(_G, { __index = function(t, k) error('undefined ' .. k) end })\n"));
    EXPECT_FALSE(m_table.OpenTable("DELETE_CODE_TABLE"));
    ASSERT_TRUE(m_table.OpenTable("CODE_TABLE"));
    EXPECT_TRUE(m_table.OpenTable(1));
    EXPECT_TRUE(m_table.CloseTable());
    EXPECT_FALSE(m_table.OpenTable(2));
    int32_t n = 0;
    EXPECT_FALSE(m_table.GetData(2, n));
    EXPECT_TRUE(m_log.m_lines.empty());
}

TEST_F(LuaTableTest, LoadAndRunErrorsAreLoggedAndNamed) {
    EXPECT_FALSE(m_table.DoFile(L"missing.lua"));
    ASSERT_EQ(m_log.m_lines.size(), 1u);
    EXPECT_EQ(m_log.m_lines[0].first, 10024);
    EXPECT_EQ(m_log.m_lines[0].second.rfind(L"cannot open missing.lua", 0), 0u) << m_log.m_lines[0].second;

    CRQLuaTable syntax(m_log);
    EXPECT_FALSE(RunScript(syntax, "RAN = 1\nlocal = 2\n", "syntax.lua"));
    EXPECT_EQ(GlobalText(syntax, "RAN"), "");  // nothing of it ran
    ASSERT_EQ(m_log.m_lines.size(), 2u);
    EXPECT_EQ(m_log.m_lines[1].second.rfind(L"syntax.lua:2:", 0), 0u) << m_log.m_lines[1].second;
    EXPECT_EQ(m_log.m_lines[1].second.back(), L'\n');

    CRQLuaTable runtime(m_log);
    const int nTop = lua_gettop(runtime.GetLuaState());
    EXPECT_FALSE(RunScript(runtime, "BEFORE = 'set'\nerror('boom')\n", "runtime.lua"));
    EXPECT_EQ(GlobalText(runtime, "BEFORE"), "set");
    EXPECT_EQ(lua_gettop(runtime.GetLuaState()), nTop);
    ASSERT_EQ(m_log.m_lines.size(), 3u);
    EXPECT_EQ(m_log.m_lines[2].second, L"runtime.lua:2: boom\n");
}

TEST_F(LuaTableTest, ErrorObjectThatIsNoStringIsReported) {
    EXPECT_FALSE(RunScript(m_table, "error(setmetatable({}, { __tostring = function() return 'x' end }))\n"));
    ASSERT_EQ(m_log.m_lines.size(), 1u);
    EXPECT_EQ(m_log.m_lines[0].second, L"(error object is not a string)\n");
}

TEST_F(LuaTableTest, AlertFunctionReceivesTheMessageInsteadOfTheLog) {
    EXPECT_FALSE(RunScript(m_table, "function _ALERT(m) ALERTED = m end\nerror('boom')\n"));
    EXPECT_EQ(GlobalText(m_table, "ALERTED"), "test.lua:2: boom");
    EXPECT_TRUE(m_log.m_lines.empty());
}

TEST_F(LuaTableTest, PrintErrorFormatsAndCutsLongMessages) {
    lua_State* L = m_table.GetLuaState();
    const int nTop = lua_gettop(L);
    lua_tinker::print_error(L, "%s %d", "value", 42);
    ASSERT_EQ(m_log.m_lines.size(), 1u);
    EXPECT_EQ(m_log.m_lines[0].second, L"value 42\n");
    std::string strLong(5000, 'x');
    lua_tinker::print_error(L, "%s", strLong.c_str());
    ASSERT_EQ(m_log.m_lines.size(), 2u);
    EXPECT_EQ(m_log.m_lines[1].second, std::wstring(4095, L'x') + L"\n");
    EXPECT_EQ(lua_gettop(L), nTop);
}

TEST_F(LuaTableTest, AlertThatRaisesAnErrorIsLoggedWithTheMessage) {
    EXPECT_FALSE(RunScript(m_table, "function _ALERT(m) error('alert broke', 0) end\nerror('first', 0)\n"));
    ASSERT_EQ(m_log.m_lines.size(), 2u);
    EXPECT_EQ(m_log.m_lines[0].second, L"first\n");
    EXPECT_EQ(m_log.m_lines[1].second, L"alert broke\n");
    EXPECT_EQ(lua_gettop(m_table.GetLuaState()), 0);
}

}  // namespace
