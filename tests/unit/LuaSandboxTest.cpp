#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>

#include "RQLuaTestUtil.h"
#include "RQPatchScriptGen.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQPatchManifest.h"
#include "script/RQLuaApi.h"

namespace {

class LuaSandboxTest : public ::testing::Test {
protected:
    RQTestTempDir m_dir;
    RQLogCapture m_log;

    // A fresh host still works after whatever the test did.
    void ExpectUsableHost() {
        CRQLuaTable table(m_log);
        ASSERT_TRUE(RunScript(table, "CODE_TABLE = { { '', 'a.dat', 1 } }\n", "after.lua"));
        ASSERT_TRUE(table.OpenTable("CODE_TABLE"));
        EXPECT_TRUE(table.OpenTable(1));
    }
};

TEST_F(LuaSandboxTest, OnlyTheSafeLibrariesAndFunctionsExist) {
    CRQLuaTable table(m_log);
    const char* pszScript =
        "local absent = { 'dofile', 'loadfile', 'load', 'loadstring', 'require', 'module', 'getfenv',\n"
        "  'setfenv', 'newproxy', 'collectgarbage', 'gcinfo', 'io', 'os', 'debug', 'package' }\n"
        "for _, name in ipairs(absent) do\n"
        "  if _G[name] ~= nil then error('present: ' .. name) end\n"
        "end\n"
        "if string.dump ~= nil then error('string.dump') end\n"
        "if ('').dump ~= nil then error('dump through the string metatable') end\n"
        "if getmetatable('').__index.dump ~= nil then error('dump through __index') end\n"
        // What scripts need is there.
        "assert(string.format('%03d', 7) == '007' and table.concat({ 'a', 'b' }) == 'ab')\n"
        "assert(math.floor(2.5) == 2 and select('#', pcall(error)) == 2 and type(coroutine.wrap) == "
        "'function')\n"
        "assert(('x'):rep(3) == 'xxx' and string.rep('', 2^31 - 1) == '' and ('ab'):rep(0) == '')\n"
        "OK = 'yes'\n";
    EXPECT_TRUE(RunScript(table, pszScript));
    EXPECT_EQ(GlobalText(table, "OK"), "yes");
    EXPECT_EQ(m_log.AllText(), L"");
}

// Bytecode made by an ordinary, unrestricted state.
std::string DumpedChunk() {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    EXPECT_EQ(luaL_dostring(L, "return string.dump(function() CODE_TABLE = { { '', 'x', 1 } } end)"), 0);
    size_t nLen = 0;
    const char* p = lua_tolstring(L, -1, &nLen);
    std::string strChunk(p, nLen);
    // It is a valid chunk: the unrestricted loader takes it.
    EXPECT_EQ(luaL_loadbuffer(L, strChunk.data(), strChunk.size(), "chunk"), 0);
    lua_close(L);
    return strChunk;
}

TEST_F(LuaSandboxTest, PrecompiledChunksAreRefused) {
    const std::string strChunk = DumpedChunk();
    ASSERT_EQ(strChunk[0], '\x1b');
    for (const std::string& strFile : {strChunk, "#!/usr/bin/lua\n" + strChunk, "#\n" + strChunk}) {
        CRQLuaTable table(m_log);
        EXPECT_FALSE(RunScript(table, strFile, "dumped.lua"));
        EXPECT_FALSE(table.OpenTable("CODE_TABLE"));
        EXPECT_EQ(lua_gettop(table.GetLuaState()), 0);
    }
    ASSERT_EQ(m_log.m_lines.size(), 3u);
    for (const auto& line : m_log.m_lines) {
        EXPECT_EQ(line.second, L"cannot load dumped.lua: precompiled chunks are not accepted\n");
    }
}

TEST_F(LuaSandboxTest, FirstLineWithHashIsSkippedAndLinesStillCount) {
    CRQLuaTable table(m_log);
    EXPECT_FALSE(RunScript(table, "#!/usr/bin/lua\nOK = 1\nerror('line three')\n"));
    EXPECT_EQ(GlobalText(table, "OK"), "1");
    ASSERT_EQ(m_log.m_lines.size(), 1u);
    EXPECT_EQ(m_log.m_lines[0].second, L"test.lua:3: line three\n");
}

TEST_F(LuaSandboxTest, EndlessLoopsEndEvenWhenTheyCatchTheError) {
    const char* const kScripts[] = {
        "while true do end", "while true do pcall(function() while true do end end) end",
        "local co = coroutine.wrap(function()\n"
        "  while true do pcall(function() while true do end end) end\n"
        "end)\n"
        "while true do pcall(co) end",
        "local function f() return f() end f()",  // a tail call loops without growing the stack
    };
    for (const char* pszScript : kScripts) {
        CRQLuaTable table(m_log, SmallLimits());
        EXPECT_FALSE(RunScript(table, pszScript)) << pszScript;
        EXPECT_TRUE(table.GetSandbox().bInstructionLimitHit) << pszScript;
    }
    ASSERT_EQ(m_log.m_lines.size(), 4u);
    EXPECT_NE(m_log.m_lines[0].second.find(L"instruction limit exceeded"), std::wstring::npos);
    ExpectUsableHost();
}

TEST_F(LuaSandboxTest, DefaultBudgetStopsAnEndlessLoop) {
    // The instruction budget, not the wall clock (which a sanitizer build on
    // a busy machine could reach first).
    RQLuaLimits limits = RQLuaLimits::Default();
    limits.dwTimeLimitMs = 10 * 60 * 1000;
    CRQLuaTable table(m_log, limits);
    EXPECT_FALSE(RunScript(table, "local n = 0 while true do n = n + 1 end"));
    ASSERT_EQ(m_log.m_lines.size(), 1u);
    EXPECT_EQ(m_log.m_lines[0].second, L"test.lua:1: instruction limit exceeded\n");
}

TEST_F(LuaSandboxTest, MemoryBombsEndAtTheCap) {
    const char* const kScripts[] = {
        "local s = 'x' while true do s = s .. s end",
        "local t = {} local i = 0 while true do i = i + 1 t[i] = { i, tostring(i) } end",
        "KEEP = {} while true do pcall(function() KEEP[#KEEP + 1] = ('y'):rep(65536) .. #KEEP end) end",
        "local s = ('x'):rep(2^30)",
        "local t = {} for i = 1, 64 do t[i] = ('z'):rep(2^20) .. i end local s = table.concat(t) .. "
        "table.concat(t)",
    };
    for (const char* pszScript : kScripts) {
        CRQLuaTable table(m_log, SmallLimits());
        EXPECT_FALSE(RunScript(table, pszScript)) << pszScript;
        // The host's own few bytes after the run (the error message) come on top.
        EXPECT_LE(table.GetSandbox().nPeak, SmallLimits().nMemoryCap + 4096) << pszScript;
    }
    ASSERT_EQ(m_log.m_lines.size(), 5u);
    EXPECT_EQ(m_log.m_lines[0].second, L"not enough memory\n");
    EXPECT_NE(m_log.m_lines[3].second.find(L"exceeds the memory limit"), std::wstring::npos);
    ExpectUsableHost();
}

TEST_F(LuaSandboxTest, AlertStillRunsAfterTheScriptRanOutOfMemory) {
    CRQLuaTable table(m_log, SmallLimits());
    EXPECT_FALSE(RunScript(table,
                           "function _ALERT(m) ALERTED = m .. ' (seen)' end\n"
                           "local t = {} local i = 0 while true do i = i + 1 t[i] = { i } end\n"));
    EXPECT_EQ(GlobalText(table, "ALERTED"), "not enough memory (seen)");
    EXPECT_TRUE(m_log.m_lines.empty());
}

TEST_F(LuaSandboxTest, FaultyAlertHandlersCannotEndTheProcess) {
    const char* const kScripts[] = {
        "function _ALERT(m) error('alert broke') end error('first')",
        "function _ALERT(m) while true do end end error('first')",
        "function _ALERT(m) local s = 'x' while true do s = s .. s end end error('first')",
    };
    for (const char* pszScript : kScripts) {
        CRQLuaTable table(m_log, SmallLimits());
        EXPECT_FALSE(RunScript(table, pszScript)) << pszScript;
        EXPECT_EQ(lua_gettop(table.GetLuaState()), 0);
    }
    ASSERT_EQ(m_log.m_lines.size(), 6u);
    EXPECT_EQ(m_log.m_lines[0].second, L"test.lua:1: first\n");
    EXPECT_EQ(m_log.m_lines[1].second, L"test.lua:1: alert broke\n");
    EXPECT_NE(m_log.m_lines[3].second.find(L"instruction limit exceeded"), std::wstring::npos);
    EXPECT_EQ(m_log.m_lines[5].second, L"not enough memory\n");
    ExpectUsableHost();
}

TEST_F(LuaSandboxTest, RealisticPatchScriptRunsWithinTheDefaultLimits) {
    RQTestTempDir::WriteAll("PATCHER_CODE.LUA", MakePatchScript(50000));
    CRQLuaTable table(m_log);
    ASSERT_TRUE(table.DoFile(L"PATCHER_CODE.LUA"));
    std::map<std::wstring, CODE_INFO> mapCodeInfo;
    std::map<std::wstring, CODE_INFO> mapDeleteInfo;
    ASSERT_TRUE(RQReadCodeTables(&table, mapCodeInfo, mapDeleteInfo, m_log));
    EXPECT_EQ(mapCodeInfo.size(), 50000u);
    EXPECT_EQ(mapDeleteInfo.size(), 2u);
    const CODE_INFO& looped = mapCodeInfo.at(L"bgm007.ogg");
    EXPECT_EQ(looped.strPath, L"sound\\bgm\\");
    EXPECT_EQ(looped.dwCRC, 4000000007u);
    EXPECT_EQ(looped.ullFileSize, 2048u * 7);
    EXPECT_TRUE(looped.bValue9);
    EXPECT_FALSE(mapCodeInfo.at(L"bgm008.ogg").bValue9);
    EXPECT_EQ(mapCodeInfo.at(L"file0000004.dat").strPath, L"data\\");
    EXPECT_TRUE(m_log.m_lines.empty());
}

}  // namespace

TEST_F(LuaSandboxTest, BacktrackingPatternsEndAtTheTimeLimit) {
    RQLuaLimits limits = SmallLimits();
    limits.dwTimeLimitMs = 300;
    const char* const kBombs[] = {
        "local s = string.rep('a', 20000)\nlocal r = s:find('.-.-.-.-.-.-.-.-b')\n",
        "local s = string.rep('a', 5000)\nlocal r = s:match(string.rep('a*', 12) .. 'b')\n",
        "local s = string.rep('a', 20000)\nlocal r = s:gsub('.-.-.-.-.-.-.-b', 'x')\n",
        "local s = string.rep('a', 20000)\nfor w in s:gmatch('.-.-.-.-.-.-.-b') do end\n",
        // A caught error does not buy more time: the next check fails again.
        "local s = string.rep('a', 20000)\nwhile true do pcall(string.find, s, '.-.-.-.-.-.-.-b') end\n",
    };
    for (const char* pszBomb : kBombs) {
        CRQLuaTable table(m_log, limits);
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(RunScript(table, std::string(pszBomb) + "CODE_TABLE = { { '', 'x.dat', 0, 0, 0 } }\n"))
            << pszBomb;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << pszBomb;
        EXPECT_NE(m_log.AllText().find(L"time limit exceeded"), std::wstring::npos) << pszBomb;
    }
    ExpectUsableHost();
}

TEST_F(LuaSandboxTest, AStopRequestEndsAMatchAtOnce) {
    std::atomic<int64_t> nStop{1};
    CRQLuaTable table(m_log);
    table.SetStopFlag(&nStop);
    EXPECT_FALSE(RunScript(table, "local r = string.rep('a', 20000):find('.-.-.-.-.-.-.-.-b')\n"));
    EXPECT_NE(m_log.AllText().find(L"stopped"), std::wstring::npos);
}

// The time limit holds for the whole run: a script that spends it leaves its
// error handler none of its own (before, the handler got the limit again).
TEST_F(LuaSandboxTest, TheTimeLimitCoversTheRunAndItsAlertTogether) {
    RQLuaLimits limits = SmallLimits();
    limits.nInstructionBudget = UINT64_MAX / 2;
    limits.nAlertInstructionBudget = UINT64_MAX / 2;
    limits.dwTimeLimitMs = 500;
    CRQLuaTable table(m_log, limits);
    EXPECT_FALSE(
        table.DoBuffer("function _ALERT(m) N = 0 while true do N = N + 1 end end\n"
                       "while true do end\n",
                       "PATCHER_CODE.LUA"));
    lua_State* L = table.GetLuaState();
    lua_getglobal(L, "N");
    const double dLoops = lua_tonumber(L, -1);
    lua_pop(L, 1);
    // The handler is stopped at its first look at the clock: a few hundred
    // loops at most, where half a second of its own would give millions.
    EXPECT_LT(dLoops, 5000);
    EXPECT_NE(m_log.AllText().find(L"time limit exceeded"), std::wstring::npos);
}

TEST_F(LuaSandboxTest, ScriptsInMemoryLoadLikeFilesAndRefusePrecompiledChunks) {
    CRQLuaTable table(m_log);
    ASSERT_TRUE(table.DoBuffer("#!/usr/bin/lua\nCODE_TABLE = { { '', 'a.dat', 1 } }\n", "PATCHER_CODE.LUA"));
    ASSERT_TRUE(table.OpenTable("CODE_TABLE"));
    table.CloseTable();
    for (const std::string& strChunk : {std::string("\x1bLua\x51"), std::string("# line\n\x1bLua\x51")}) {
        CRQLuaTable other(m_log);
        EXPECT_FALSE(other.DoBuffer(strChunk, "PATCHER_CODE.LUA"));
    }
    EXPECT_FALSE(table.DoBuffer("\nerror('on line two')", "PATCHER_CODE.LUA"));
    ASSERT_EQ(m_log.m_lines.size(), 3u);
    EXPECT_EQ(m_log.m_lines[0].second,
              L"cannot load PATCHER_CODE.LUA: precompiled chunks are not accepted\n");
    EXPECT_EQ(m_log.m_lines[2].second, L"PATCHER_CODE.LUA:2: on line two\n");
}
