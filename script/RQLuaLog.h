// The script host's log lines, into the log its owner handed in.
#pragma once

#include <string>

#include "baselib/log/RQBLLogSink.h"

namespace rqlua {

// Logs strText at level 1 under the given tag and trace number; nothing when
// pLog is null (a state made without a log).
void LogError(CRQBLLogSink* pLog, const wchar_t* pszTag, int nLine, int nTraceNum,
              const std::wstring& strText);

}  // namespace rqlua
