// The Lua state in which the downloaded patch script runs. The script arrives
// over plain HTTP and the launcher runs with administrator rights, so the
// state is a sandbox: only the base, string, table and math libraries, none
// of the functions that reach files, other chunks or the collector, no
// precompiled chunks, and a bounded run (instructions and memory).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "baselib/log/RQBLLogSink.h"

struct lua_State;

struct RQLuaLimits {
    // Total memory of the state while script code is loaded or runs.
    size_t nMemoryCap;
    // Virtual-machine instructions of one run of the main chunk.
    uint64_t nInstructionBudget;
    // Instructions of one call of the script's "_ALERT" function.
    uint64_t nAlertInstructionBudget;
    // Wall-clock time of a script's whole run: its load, its main chunk and
    // the "_ALERT" handler of its error together (each alone, when they are
    // called outside CRQLuaTable's runs). It also reaches inside the string
    // library's pattern matcher, where a backtracking pattern spends its time
    // without running a single instruction.
    uint32_t dwTimeLimitMs;

    static RQLuaLimits Default();
};

// Kept behind the state as its allocator's user data, so that the hook and the
// error printer find it from the lua_State alone. Plain data only: Lua unwinds
// with longjmp through the functions that touch it.
struct RQLuaSandbox {
    RQLuaLimits limits;
    size_t nUsed = 0;
    size_t nPeak = 0;
    // Limits are enforced only while script code loads or runs. The host's own
    // few small allocations (keys, converted numbers) must never fail half-way
    // through an unprotected call, where Lua could only panic.
    bool bLimited = false;
    int64_t nInstructionsLeft = 0;
    uint64_t nInstructionsRun = 0;
    bool bInstructionLimitHit = false;
    // Steady-clock milliseconds at which the current load or run is ended.
    int64_t nDeadlineMs = 0;
    // Set for a whole run of a script (load, main chunk, "_ALERT"): every
    // limited call within it ends here, so that the time limit holds for the
    // run as a whole and not once per part. 0: each call gets the full limit.
    int64_t nRunDeadlineMs = 0;
    // When set and non-zero, the run ends (the launcher is closing).
    const std::atomic<int64_t>* pStop = nullptr;
    // Where the host's error lines go (the error printer finds it from the
    // state); null: nowhere.
    CRQBLLogSink* pLog = nullptr;
};

namespace rqlua {

inline int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Why the limited run must end now, or null when it may go on. Checked by the
// instruction count hook and, through a small patch of our own, by the
// pattern matcher every few thousand steps.
inline const char* LimitReached(const RQLuaSandbox& box) {
    if (!box.bLimited) {
        return nullptr;
    }
    if (box.pStop != nullptr && box.pStop->load() != 0) {
        return "stopped";
    }
    return SteadyNowMs() >= box.nDeadlineMs ? "time limit exceeded" : nullptr;
}

// A fresh sandboxed state with pBox as its control block (which must outlive
// the state), or null when the state cannot be built.
lua_State* NewSandboxState(RQLuaSandbox* pBox);

// The control block of a state made by NewSandboxState; null for other states.
RQLuaSandbox* SandboxOf(lua_State* pLuaState);

// Enforces the memory cap and a fresh instruction budget for its lifetime.
// Only protected Lua calls (lua_load, lua_pcall) may run inside it.
class CRQLuaLimitScope {
public:
    CRQLuaLimitScope(lua_State* pLuaState, uint64_t nInstructionBudget);
    ~CRQLuaLimitScope();
    CRQLuaLimitScope(const CRQLuaLimitScope&) = delete;
    CRQLuaLimitScope& operator=(const CRQLuaLimitScope&) = delete;

private:
    RQLuaSandbox* m_pBox;
};

// Loads a script file as text (like luaL_loadfile, with the same messages), but
// refuses precompiled chunks, also behind a first line starting with '#'. The
// check is made on the bytes handed to the parser, so the file cannot change
// between check and load. Returns 0 with the chunk pushed, or non-zero with a
// message pushed. Runs inside a CRQLuaLimitScope of its own.
int LoadScriptFile(lua_State* pLuaState, const char* pszFileName);

// The same for a script already in memory (the bytes whose signature was
// checked, so that no other bytes can be run in their place), with the same
// refusal of precompiled chunks. pszChunkName is the name messages show
// ("PATCHER_CODE.LUA:12: ...").
int LoadScriptBuffer(lua_State* pLuaState, const char* pData, size_t nBytes, const char* pszChunkName);

}  // namespace rqlua
