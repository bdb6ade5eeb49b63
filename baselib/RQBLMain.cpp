#include "baselib/RQBLMain.h"

#include "baselib/RQBLCrashReport.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/log/RQBLWideFormat.h"

namespace {

constexpr int kBuildNumber = 555;

}  // namespace

CRQBLMain::CRQBLMain(CRQBLLogSink& log) : m_log(log) {
    PrintMInfo(L"CRQBLMain()");
    rqbl::EnableLowFragmentationHeap();
    m_nNation = 4;
    SetCrashReportBuildTag(L"RELEASE_" + GetNationName() + L"_" + std::to_wstring(kBuildNumber));
}

std::wstring CRQBLMain::GetNationName() const {
    return NationName(m_nNation);
}

std::wstring CRQBLMain::NationName(int32_t nNation) {
    switch (nNation) {
        case 2:
            return L"KOR";
        case 3:
            return L"USA";
        case 4:
            return L"JPN";
        case 5:
            return L"CHN";
        case 6:
            return L"TWN";
        default:
            return L"NONE";
    }
}

uint32_t CRQBLMain::PrintMInfo(std::wstring strLabel) {
    rqbl::RQBL_MEMORY_COUNTERS counters;
    if (!rqbl::QueryProcessMemory(counters)) {
        return 0;
    }
    std::wstring strLine;
    uint32_t nGrowth =
        ComputeMemReport(m_dwLastMemUsage, m_dwLastMemTime, strLabel, counters, rqbl::TimeGetTime(), strLine);
    RQ_LOG(m_log, L"CRQBLMain::PrintMInfo", RQ_LOG_NTS).Trace(30188, L"%ls", strLine.c_str());
    return nGrowth;
}

std::wstring CRQBLMain::FormatMemInfo(const std::wstring& strLabel, uint32_t nGrowthMb, uint32_t nTotalMb,
                                      float fSeconds) {
    return rqbl::Format(L"[%ls]-[%uMb/%uMb, %.2fsec]", strLabel.c_str(), nGrowthMb, nTotalMb,
                        static_cast<double>(fSeconds));
}

uint32_t CRQBLMain::ComputeMemReport(uint32_t& dwLastMemUsage, uint32_t& dwLastMemTime,
                                     const std::wstring& strLabel, const rqbl::RQBL_MEMORY_COUNTERS& counters,
                                     uint32_t dwNow, std::wstring& strLine) {
    if (dwLastMemTime == 0) {
        dwLastMemTime = dwNow;
    }
    float fSeconds = static_cast<float>(dwNow - dwLastMemTime) / 1000.0f;
    if (dwLastMemUsage > counters.nPagefileUsage) {
        dwLastMemUsage = static_cast<uint32_t>(counters.nPagefileUsage);
    }
    // The working set can be below the last page-file usage (they are different
    // counters): the growth is then 0, not a wrapped-around giant.
    uint64_t nWorkingSet = counters.nWorkingSetSize;
    uint64_t nGrowth = nWorkingSet > dwLastMemUsage ? nWorkingSet - dwLastMemUsage : 0;
    strLine = FormatMemInfo(strLabel, static_cast<uint32_t>(nGrowth / 1000000),
                            static_cast<uint32_t>(nWorkingSet / 1000000), fSeconds);

    auto dwPagefile = static_cast<uint32_t>(counters.nPagefileUsage);
    uint32_t nResult = dwPagefile - dwLastMemUsage;
    dwLastMemUsage = dwPagefile;
    dwLastMemTime = dwNow;
    return nResult;
}
