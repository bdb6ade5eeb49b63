#include "baselib/RQBLCrashReport.h"

std::wstring g_strBuildTag = L"Not Initialized";

std::wstring BuildCrashLogEntry(int32_t nValue1, const std::wstring& strText1, int32_t nValue2,
                                const std::wstring& strText2, const std::wstring& strBuildTag) {
    return std::to_wstring(nValue1) + L"," + strText1 + L"," + std::to_wstring(nValue2) + L"," + strText2 +
           L"," + strBuildTag;
}
