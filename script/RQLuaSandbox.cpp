#include "script/RQLuaSandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "baselib/RQBLPlatform.h"
#include "script/RQLuaApi.h"
#include "script/RQLuaLog.h"

// Everything below that Lua calls back (allocator, hook, library functions) may
// be left by longjmp: no object with a destructor may live in those frames.

namespace {

// Instructions between two calls of the count hook: small enough to stop a
// loop promptly, large enough that the hook costs nothing measurable.
constexpr int kHookInterval = 1000;

void* SandboxAlloc(void* pUserData, void* pBlock, size_t nOldSize, size_t nNewSize) {
    auto* pBox = static_cast<RQLuaSandbox*>(pUserData);
    if (nNewSize == 0) {
        std::free(pBlock);
        pBox->nUsed -= nOldSize;
        return nullptr;
    }
    // Lua requires that shrinking never fails, so only growth is refused.
    if (nNewSize > nOldSize && pBox->bLimited) {
        size_t nCap = pBox->limits.nMemoryCap;
        if (pBox->nUsed > nCap || nNewSize - nOldSize > nCap - pBox->nUsed) {
            return nullptr;
        }
    }
    void* pNew = std::realloc(pBlock, nNewSize);
    if (pNew == nullptr) {
        if (nNewSize > nOldSize) {
            return nullptr;
        }
        pNew = pBlock;  // a failed shrink leaves the larger block, which still serves
    }
    pBox->nUsed = pBox->nUsed - nOldSize + nNewSize;
    if (pBox->nUsed > pBox->nPeak) {
        pBox->nPeak = pBox->nUsed;
    }
    return pNew;
}

void CountHook(lua_State* pLuaState, lua_Debug* /*pDebug*/) {
    RQLuaSandbox* pBox = rqlua::SandboxOf(pLuaState);
    if (pBox == nullptr || !pBox->bLimited) {
        return;
    }
    if (const char* pszReason = rqlua::LimitReached(*pBox)) {
        luaL_where(pLuaState, 0);
        lua_pushstring(pLuaState, pszReason);
        lua_concat(pLuaState, 2);
        lua_error(pLuaState);
    }
    if (!pBox->bInstructionLimitHit) {
        pBox->nInstructionsRun += kHookInterval;
        pBox->nInstructionsLeft -= kHookInterval;
        if (pBox->nInstructionsLeft > 0) {
            return;
        }
        pBox->bInstructionLimitHit = true;
    }
    // From now on every instruction of this thread raises the error again, so
    // a script that catches it with pcall cannot go on looping: the first
    // instruction outside the pcall fails as well. Each coroutine reaches this
    // point by itself, since every Lua thread keeps its own hook count.
    lua_sethook(pLuaState, CountHook, LUA_MASKCOUNT, 1);
    luaL_where(pLuaState, 0);  // the function that was running, not its caller
    lua_pushliteral(pLuaState, "instruction limit exceeded");
    lua_concat(pLuaState, 2);
    lua_error(pLuaState);
}

// string.rep with the result's size checked first: the original loops in C for
// any count, where the count hook cannot stop it (string.rep("", 2^31-1)).
int BoundedRep(lua_State* pLuaState) {
    size_t nLen = 0;
    const char* pszText = luaL_checklstring(pLuaState, 1, &nLen);
    int nCount = luaL_checkint(pLuaState, 2);
    if (nCount <= 0 || nLen == 0) {
        lua_pushliteral(pLuaState, "");
        return 1;
    }
    RQLuaSandbox* pBox = rqlua::SandboxOf(pLuaState);
    size_t nCap = pBox != nullptr ? pBox->limits.nMemoryCap : std::numeric_limits<size_t>::max();
    if (static_cast<size_t>(nCount) > nCap / nLen) {
        return luaL_error(pLuaState, "string.rep result exceeds the memory limit");
    }
    luaL_Buffer buffer;
    luaL_buffinit(pLuaState, &buffer);
    while (nCount-- > 0) {
        luaL_addlstring(&buffer, pszText, nLen);
    }
    luaL_pushresult(&buffer);
    return 1;
}

// Globals removed after the libraries are opened: they load other chunks or
// files, reach other functions' environments, make userdata with finalisers,
// or drive the collector. "require" and "module" belong to the package
// library, which is never opened; they are cleared all the same.
const char* const kRemovedGlobals[] = {"dofile",   "loadfile",       "load",    "loadstring",
                                       "require",  "module",         "getfenv", "setfenv",
                                       "newproxy", "collectgarbage", "gcinfo"};

int OpenSandboxLibraries(lua_State* pLuaState) {
    const luaL_Reg kLibraries[] = {
        {"", luaopen_base},
        {LUA_TABLIBNAME, luaopen_table},
        {LUA_STRLIBNAME, luaopen_string},
        {LUA_MATHLIBNAME, luaopen_math},
    };
    for (const luaL_Reg& lib : kLibraries) {
        lua_pushcfunction(pLuaState, lib.func);
        lua_pushstring(pLuaState, lib.name);
        lua_call(pLuaState, 1, 0);
    }
    for (const char* pszName : kRemovedGlobals) {
        lua_pushnil(pLuaState);
        lua_setfield(pLuaState, LUA_GLOBALSINDEX, pszName);
    }
    // The string metatable's __index is this same table, so ("").dump and
    // getmetatable("").__index.dump are gone with it.
    lua_getfield(pLuaState, LUA_GLOBALSINDEX, LUA_STRLIBNAME);
    lua_pushnil(pLuaState);
    lua_setfield(pLuaState, -2, "dump");
    lua_pushcfunction(pLuaState, BoundedRep);
    lua_setfield(pLuaState, -2, "rep");
    lua_pop(pLuaState, 1);
    return 0;
}

// Reached only by an error outside any protected call, which the host avoids
// (its reads never run script code, and limits are off outside script runs):
// what is left is the process running out of memory. Lua exits after this.
int Panic(lua_State* pLuaState) {
    const char* pszMessage = lua_tostring(pLuaState, -1);
    std::wstring strMessage = rqbl::AnsiToWide(pszMessage != nullptr ? pszMessage : "?",
                                               pszMessage != nullptr ? std::strlen(pszMessage) : 1);
    RQLuaSandbox* pBox = rqlua::SandboxOf(pLuaState);
    rqlua::LogError(pBox != nullptr ? pBox->pLog : nullptr, L"lua_tinker::print_error", __LINE__, 10024,
                    L"PANIC: unprotected error in call to Lua API (" + strMessage + L")\n");
    return 0;
}

struct ScriptReader {
    FILE* pFile = nullptr;
    bool bStarted = false;
    bool bDone = false;
    bool bPrecompiled = false;
    int nReadErrno = 0;
    char szBuffer[16384];
};

const char* ReadChunk(lua_State* /*pLuaState*/, void* pData, size_t* pnSize) {
    auto* pReader = static_cast<ScriptReader*>(pData);
    *pnSize = 0;
    if (pReader->bDone) {
        return nullptr;
    }
    if (!pReader->bStarted) {
        pReader->bStarted = true;
        bool bSkippedLine = false;
        int c = std::getc(pReader->pFile);
        if (c == '#') {  // "#!" line of an executable script, skipped as the interpreter does
            bSkippedLine = true;
            while ((c = std::getc(pReader->pFile)) != EOF && c != '\n') {
            }
            if (c == '\n') {
                c = std::getc(pReader->pFile);
            }
        }
        if (c == LUA_SIGNATURE[0]) {
            // Precompiled chunks skip the compiler's checks, and Lua 5.1's
            // loader trusts their content: crafted bytecode can reach memory.
            // Nothing at all is handed to the parser.
            pReader->bPrecompiled = true;
            pReader->bDone = true;
            return nullptr;
        }
        if (c != EOF) {
            std::ungetc(c, pReader->pFile);
        }
        if (bSkippedLine) {
            *pnSize = 1;  // keeps the line numbers of messages right
            return "\n";
        }
    }
    size_t nRead = std::fread(pReader->szBuffer, 1, sizeof(pReader->szBuffer), pReader->pFile);
    if (nRead == 0) {
        pReader->nReadErrno = std::ferror(pReader->pFile) != 0 ? errno : 0;
        pReader->bDone = true;
        return nullptr;
    }
    *pnSize = nRead;
    return pReader->szBuffer;
}

struct BufferReader {
    const char* pData = nullptr;
    size_t nBytes = 0;
    bool bLineBreakOwed = false;  // for a skipped "#" line
    bool bDone = false;
};

const char* ReadBuffer(lua_State* /*pLuaState*/, void* pData, size_t* pnSize) {
    auto* pReader = static_cast<BufferReader*>(pData);
    *pnSize = 0;
    if (pReader->bLineBreakOwed) {
        pReader->bLineBreakOwed = false;
        *pnSize = 1;
        return "\n";
    }
    if (pReader->bDone || pReader->nBytes == 0) {
        return nullptr;
    }
    pReader->bDone = true;
    *pnSize = pReader->nBytes;
    return pReader->pData;
}

struct FileCloser {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};

int PushFileError(lua_State* pLuaState, const char* pszWhat, const char* pszFileName, int nErrno) {
    lua_pushfstring(pLuaState, "cannot %s %s: %s", pszWhat, pszFileName, std::strerror(nErrno));
    return LUA_ERRFILE;
}

}  // namespace

// Measured with a generated script of 300 000 entries (13.8 MiB of entry
// tables built through helper functions, grouped closures and a loop): about
// 1 s, a peak of 129 MiB and 9.3 million instructions. The cap leaves four
// times that memory, the budget fifty times those instructions, and a script
// that loops for ever is stopped after a second or two; the time limit leaves
// a slow machine fifteen times that script's run.
RQLuaLimits RQLuaLimits::Default() {
    RQLuaLimits limits{};
    limits.nMemoryCap = size_t{512} << 20;
    limits.nInstructionBudget = 500000000;
    limits.nAlertInstructionBudget = 10000000;
    limits.dwTimeLimitMs = 15000;
    return limits;
}

namespace rqlua {

lua_State* NewSandboxState(RQLuaSandbox* pBox) {
    lua_State* pLuaState = lua_newstate(SandboxAlloc, pBox);
    if (pLuaState == nullptr) {
        return nullptr;
    }
    lua_atpanic(pLuaState, Panic);
    if (lua_cpcall(pLuaState, OpenSandboxLibraries, nullptr) != 0) {
        lua_close(pLuaState);
        return nullptr;
    }
    lua_sethook(pLuaState, CountHook, LUA_MASKCOUNT, kHookInterval);
    lua_settop(pLuaState, 0);
    return pLuaState;
}

RQLuaSandbox* SandboxOf(lua_State* pLuaState) {
    void* pUserData = nullptr;
    if (pLuaState == nullptr || lua_getallocf(pLuaState, &pUserData) != SandboxAlloc) {
        return nullptr;
    }
    return static_cast<RQLuaSandbox*>(pUserData);
}

CRQLuaLimitScope::CRQLuaLimitScope(lua_State* pLuaState, uint64_t nInstructionBudget)
    : m_pBox(SandboxOf(pLuaState)) {
    if (m_pBox == nullptr) {
        return;
    }
    constexpr auto kMaxBudget = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    m_pBox->bLimited = true;
    m_pBox->bInstructionLimitHit = false;
    m_pBox->nDeadlineMs =
        m_pBox->nRunDeadlineMs != 0 ? m_pBox->nRunDeadlineMs : SteadyNowMs() + m_pBox->limits.dwTimeLimitMs;
    m_pBox->nInstructionsLeft =
        static_cast<int64_t>(nInstructionBudget < kMaxBudget ? nInstructionBudget : kMaxBudget);
    lua_sethook(pLuaState, CountHook, LUA_MASKCOUNT, kHookInterval);
}

CRQLuaLimitScope::~CRQLuaLimitScope() {
    if (m_pBox != nullptr) {
        m_pBox->bLimited = false;
    }
}

int LoadScriptFile(lua_State* pLuaState, const char* pszFileName) {
    // The chunk is named like luaL_loadfile names it, so messages read
    // "PATCHER_CODE.LUA:12: ...". lua_load is a protected call: nothing
    // leaves this frame by longjmp, so owning wrappers are safe here.
    lua_pushfstring(pLuaState, "@%s", pszFileName);
    int nNameIndex = lua_gettop(pLuaState);
    auto pReader = std::make_unique<ScriptReader>();
    std::unique_ptr<FILE, FileCloser> file(std::fopen(pszFileName, "rb"));
    if (!file) {
        int nErrno = errno;
        lua_remove(pLuaState, nNameIndex);
        return PushFileError(pLuaState, "open", pszFileName, nErrno);
    }
    pReader->pFile = file.get();
    int nStatus = 0;
    {
        RQLuaSandbox* pBox = SandboxOf(pLuaState);
        CRQLuaLimitScope limits(pLuaState, pBox != nullptr ? pBox->limits.nInstructionBudget : 0);
        nStatus = lua_load(pLuaState, ReadChunk, pReader.get(), lua_tostring(pLuaState, nNameIndex));
    }
    if (std::ferror(file.get()) != 0) {
        lua_settop(pLuaState, nNameIndex - 1);
        return PushFileError(pLuaState, "read", pszFileName, pReader->nReadErrno);
    }
    if (nStatus == 0 && pReader->bPrecompiled) {
        lua_pop(pLuaState, 1);  // the empty chunk that the parser made of no input
        lua_pushfstring(pLuaState, "cannot load %s: precompiled chunks are not accepted", pszFileName);
        nStatus = LUA_ERRSYNTAX;
    }
    lua_remove(pLuaState, nNameIndex);
    return nStatus;
}

int LoadScriptBuffer(lua_State* pLuaState, const char* pData, size_t nBytes, const char* pszChunkName) {
    lua_pushfstring(pLuaState, "@%s", pszChunkName);
    int nNameIndex = lua_gettop(pLuaState);
    BufferReader reader;
    size_t nStart = 0;
    if (nBytes > 0 && pData[0] == '#') {  // "#!" line, skipped as the interpreter does
        while (nStart < nBytes && pData[nStart] != '\n') {
            ++nStart;
        }
        nStart = nStart < nBytes ? nStart + 1 : nStart;
        reader.bLineBreakOwed = true;  // keeps the line numbers of messages right
    }
    // As for a file: precompiled chunks never reach the parser.
    if (nStart < nBytes && pData[nStart] == LUA_SIGNATURE[0]) {
        lua_settop(pLuaState, nNameIndex - 1);
        lua_pushfstring(pLuaState, "cannot load %s: precompiled chunks are not accepted", pszChunkName);
        return LUA_ERRSYNTAX;
    }
    reader.pData = pData + nStart;
    reader.nBytes = nBytes - nStart;
    int nStatus = 0;
    {
        RQLuaSandbox* pBox = SandboxOf(pLuaState);
        CRQLuaLimitScope limits(pLuaState, pBox != nullptr ? pBox->limits.nInstructionBudget : 0);
        nStatus = lua_load(pLuaState, ReadBuffer, &reader, lua_tostring(pLuaState, nNameIndex));
    }
    lua_remove(pLuaState, nNameIndex);
    return nStatus;
}

}  // namespace rqlua
