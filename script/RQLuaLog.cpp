#include "script/RQLuaLog.h"

#include "baselib/log/RQBLLogTraceNum.h"

namespace rqlua {

void LogError(CRQBLLogSink* pLog, const wchar_t* pszTag, int /*nLine*/, int nTraceNum,
              const std::wstring& strText) {
    if (pLog == nullptr) {
        return;
    }
    // Handed over whole, as "<trace number> <text>": a script's message is
    // already cut to the printer's buffer, and the log writes any length.
    const std::wstring strLine = std::to_wstring(nTraceNum) + L" " + strText;
    pLog->TraceLine(pszTag, RQ_LOG_ERR, strLine.c_str());
}

}  // namespace rqlua
