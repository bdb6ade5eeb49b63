// Cost of the patch script with the sandbox's default limits, and how fast the
// limits stop runaway scripts:
//   script_bench [entries]   (300000 by default)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "../unit/RQPatchScriptGen.h"
#include "../unit/RQTestTempDir.h"
#include "baselib/log/RQBLLogSink.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQPatchManifest.h"
#include "script/RQLuaTable.h"

namespace {

// The host's log lines, printed as they come ("<trace number> <text>").
class CPrintLog : public CRQBLLogSink {
public:
    void TraceLine(const wchar_t* /*pszTag*/, int /*nLevel*/, const wchar_t* pszText) override {
        std::printf("  log %ls", pszText);
    }
};
CPrintLog g_log;

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void RunRunaway(const char* pszLabel, const char* pszScript) {
    RQTestTempDir::WriteAll("runaway.lua", pszScript);
    CRQLuaTable table(g_log);
    auto t0 = std::chrono::steady_clock::now();
    bool bOk = table.DoFile(L"runaway.lua");
    std::printf("%-34s %s after %.2f s (peak %.0f MiB, %.0f M instructions)\n", pszLabel,
                bOk ? "RAN TO THE END" : "stopped", Seconds(t0), table.GetSandbox().nPeak / 1048576.0,
                table.GetSandbox().nInstructionsRun / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    int nEntries = argc > 1 ? std::atoi(argv[1]) : 300000;
    RQTestTempDir dir;
    RQLuaLimits limits = RQLuaLimits::Default();
    std::printf("limits: memory %.0f MiB, %.0f M instructions per run, %.0f M per _ALERT call\n",
                limits.nMemoryCap / 1048576.0, limits.nInstructionBudget / 1e6,
                limits.nAlertInstructionBudget / 1e6);

    std::string strScript = MakePatchScript(nEntries);
    RQTestTempDir::WriteAll("PATCHER_CODE.LUA", strScript);
    for (int nRound = 0; nRound < 2; ++nRound) {
        CRQLuaTable table(g_log);
        auto t0 = std::chrono::steady_clock::now();
        bool bOk = table.DoFile(L"PATCHER_CODE.LUA");
        double dRun = Seconds(t0);
        std::map<std::wstring, CODE_INFO> mapCodeInfo, mapDeleteInfo;
        t0 = std::chrono::steady_clock::now();
        bool bRead = RQReadCodeTables(&table, mapCodeInfo, mapDeleteInfo, g_log);
        double dRead = Seconds(t0);
        const RQLuaSandbox& box = table.GetSandbox();
        std::printf(
            "%d entries (%.1f MiB script): DoFile %s in %.2f s, peak %.0f MiB (%.1f%% of the cap), "
            "%.1f M instructions (%.2f%% of the budget); ReadCodeTables %s %zu entries in %.2f s\n",
            nEntries, strScript.size() / 1048576.0, bOk ? "ok" : "FAILED", dRun, box.nPeak / 1048576.0,
            100.0 * box.nPeak / limits.nMemoryCap, box.nInstructionsRun / 1e6,
            100.0 * box.nInstructionsRun / limits.nInstructionBudget, bRead ? "read" : "FAILED",
            mapCodeInfo.size(), dRead);
    }

    RunRunaway("endless loop", "while true do end");
    RunRunaway("endless loop catching the error",
               "while true do pcall(function() while true do end end) end");
    RunRunaway("table bomb", "local t = {} local i = 0 while true do i = i + 1 t[i] = { i } end");
    RunRunaway("string bomb", "local s = 'x' while true do s = s .. s end");
    return 0;
}
