// The base library's runtime object. A program makes one at its start, after
// its crash reporting and its log: its construction turns on the
// low-fragmentation heap, sets the build tag that crash reports name and
// logs a first memory report. The crash handlers, the log's key and GDI+ are
// the program's own objects, each made once in the order it needs them.
#pragma once

#include <cstdint>
#include <string>

#include "baselib/RQBLProcess.h"
#include "baselib/log/RQBLLogSink.h"

class CRQBLMain {
public:
    explicit CRQBLMain(CRQBLLogSink& log);
    ~CRQBLMain() = default;
    CRQBLMain(const CRQBLMain&) = delete;
    CRQBLMain& operator=(const CRQBLMain&) = delete;

    // Logs one memory report (trace 30188) and returns the growth of the
    // page-file usage since the previous one, in bytes; 0 when the process
    // cannot be queried.
    uint32_t PrintMInfo(std::wstring strLabel);

    std::wstring GetNationName() const;

    // "KOR", "USA", "JPN", "CHN", "TWN" for the codes 2 to 6, else "NONE".
    static std::wstring NationName(int32_t nNation);

    // The report line "[label]-[<growth>Mb/<total>Mb, <seconds>sec]".
    static std::wstring FormatMemInfo(const std::wstring& strLabel, uint32_t nGrowthMb, uint32_t nTotalMb,
                                      float fSeconds);

    // One report's arithmetic on given counters and time: updates the last
    // usage and time, gives the line and returns the page-file growth.
    static uint32_t ComputeMemReport(uint32_t& dwLastMemUsage, uint32_t& dwLastMemTime,
                                     const std::wstring& strLabel, const rqbl::RQBL_MEMORY_COUNTERS& counters,
                                     uint32_t dwNow, std::wstring& strLine);

private:
    CRQBLLogSink& m_log;
    int32_t m_nNation = 0;
    uint32_t m_dwLastMemUsage = 0;
    uint32_t m_dwLastMemTime = 0;
};
