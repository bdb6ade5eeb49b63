// The one call form through which every part of the launcher logs, into the
// sink it was given:
//   CRQBLLogTraceNum(log, L"CRQLauncherThread::ThreadLoop", __LINE__, 1).Trace(130011, L"NO CDN");
// Wide strings are passed with "%ls", which means the same on every C library.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "baselib/log/RQBLLogSink.h"

class CRQBLLogTraceNum {
public:
    CRQBLLogTraceNum(CRQBLLogSink& log, const wchar_t* pszFunction, int nLine, int nLevel)
        : m_log(log), m_pszFunction(pszFunction), m_nLine(nLine), m_nLevel(nLevel) {}
    virtual ~CRQBLLogTraceNum() = default;

    // Formats "<trace number> <message>" (cut to the line buffer, never past
    // it) and hands it to the sink. Levels outside 1 to 4 write nothing.
    virtual void Trace(int nTraceNum, const wchar_t* pszFormat, ...);

    // Levels 1 to 4 map to kinds 0 to 3; anything else to -1.
    static int LevelToKind(int nLevel);

    // The text handed to the writer: "<trace number> <message>", cut so that
    // it fits the buffer of nChars characters (terminator included).
    static size_t FormatText(wchar_t* pszText, size_t nChars, int nTraceNum, const wchar_t* pszFormat,
                             va_list args);

    enum { TEXT_BUFFER_CHARS = 4096 };

private:
    CRQBLLogSink& m_log;
    const wchar_t* m_pszFunction;
    int m_nLine;
    int m_nLevel;
};

// Levels used by the launcher.
enum : int {
    RQ_LOG_ERR = 1,
    RQ_LOG_NTS = 2,
    RQ_LOG_NET = 3,
    RQ_LOG_DBG = 4,
};

#define RQ_LOG(log, pszTag, nLevel) CRQBLLogTraceNum((log), (pszTag), __LINE__, (nLevel))
