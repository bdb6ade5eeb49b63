#include "script/RQLuaLog.h"

#include "baselib/log/RQBLLogTraceNum.h"

namespace rqlua {

namespace {
LogObserver g_pfnObserver = nullptr;
void* g_pObserverContext = nullptr;
}  // namespace

void LogError(const wchar_t* pszTag, int nLine, int nTraceNum, const std::wstring& strText) {
    CRQBLLogTraceNum(pszTag, nLine, RQ_LOG_ERR).Trace(nTraceNum, L"%ls", strText.c_str());
    if (g_pfnObserver != nullptr) {
        g_pfnObserver(g_pObserverContext, nTraceNum, strText);
    }
}

void SetLogObserver(LogObserver pfnObserver, void* pContext) {
    g_pfnObserver = pfnObserver;
    g_pObserverContext = pContext;
}

}  // namespace rqlua
