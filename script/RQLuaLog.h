// The script host's log lines, and a hook through which tests see them as
// they are written, whatever the log files do with them (the .log record is
// enciphered).
#pragma once

#include <string>

namespace rqlua {

// Logs strText at level 1 under the given tag and trace number.
void LogError(const wchar_t* pszTag, int nLine, int nTraceNum, const std::wstring& strText);

using LogObserver = void (*)(void* pContext, int nTraceNum, const std::wstring& strText);

// One observer at a time; null removes it. Set it only while no script runs.
void SetLogObserver(LogObserver pfnObserver, void* pContext);

}  // namespace rqlua
