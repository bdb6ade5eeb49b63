// Runs one patch script in a fresh sandboxed Lua state and lets its caller
// walk the script's nested tables slot by slot without touching the Lua stack.
//
// Between calls the stack holds exactly the open tables (m_nTableDepth of
// them, the current one on top) above whatever the script's main chunk
// returned. Reads are raw: no script code runs after DoFile, so a metatable on
// the globals or on an entry can neither raise an error outside a protected
// call nor loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "script/RQLuaSandbox.h"

struct lua_State;

class CRQLuaTable {
public:
    // log: where script errors and wrong slot types are reported.
    explicit CRQLuaTable(CRQBLLogSink& log);
    CRQLuaTable(CRQBLLogSink& log, const RQLuaLimits& limits);
    ~CRQLuaTable();
    CRQLuaTable(const CRQLuaTable&) = delete;
    CRQLuaTable& operator=(const CRQLuaTable&) = delete;

    // Loads and runs a script file; errors go through lua_tinker::print_error.
    // The time limit holds for the whole: load, run and the error's handler.
    bool DoFile(const wchar_t* pszFileName);
    // The same for a script in memory, named pszChunkName in its messages.
    bool DoBuffer(const std::string& strScript, const char* pszChunkName);
    // While *pStop is non-zero, a load or run ends at once (as an error).
    void SetStopFlag(const std::atomic<int64_t>* pStop) { m_pSandbox->pStop = pStop; }

    // The global (no table open) or the field of the current table of that
    // name becomes the current table, if it is a table.
    bool OpenTable(const char* pszName);
    // The element at integer key nIndex of the current table becomes current.
    bool OpenTable(int32_t nIndex);
    bool CloseTable();

    // Slot nIndex of the current table. A false return leaves the output alone.
    bool GetData(int32_t nIndex, bool& bOut);
    bool GetData(int32_t nIndex, int32_t& nOut);
    bool GetData(int32_t nIndex, uint32_t& dwOut);
    bool GetData(int32_t nIndex, uint64_t& ullOut);
    // Strings and numbers; text in UTF-8 or the thread's ANSI code page.
    bool GetData(int32_t nIndex, std::wstring& strOut, bool bUTF8);

    int32_t GetTableDepth() const { return m_nTableDepth; }
    // For tests and measurements.
    lua_State* GetLuaState() const { return m_pLuaState; }
    const RQLuaSandbox& GetSandbox() const { return *m_pSandbox; }

    // Slot nIndex only when it holds a Lua string (a number is not taken for
    // one): its bytes as they are.
    bool GetString(int32_t nIndex, std::string& strOut);

private:
    // Runs the chunk that fnLoad pushes, within one deadline for the whole.
    template <typename LoadFn>
    bool Run(LoadFn fnLoad);
    // Pushes slot nIndex of the current table; false (nothing pushed) when no
    // table is open or the stack cannot grow.
    bool PushSlot(int32_t nIndex);
    // The number at the top of the stack, popped. When it is no number: logs
    // "WrongType" for a string if bLogWrongType, pops, and returns false.
    bool PopNumber(int32_t nIndex, bool bLogWrongType, double& dOut);

    lua_State* m_pLuaState = nullptr;
    int32_t m_nTableDepth = 0;
    // Outlives the state: lua_close frees through its allocator.
    std::unique_ptr<RQLuaSandbox> m_pSandbox;
};
