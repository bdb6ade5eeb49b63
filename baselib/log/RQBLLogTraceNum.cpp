#include "baselib/log/RQBLLogTraceNum.h"

#include <cstdarg>
#include <cwchar>

#include "baselib/log/RQBLWideFormat.h"

int CRQBLLogTraceNum::LevelToKind(int nLevel) {
    return (nLevel >= 1 && nLevel <= 4) ? nLevel - 1 : -1;
}

size_t CRQBLLogTraceNum::FormatText(wchar_t* pszText, size_t nChars, int nTraceNum, const wchar_t* pszFormat,
                                    va_list args) {
    size_t nUsed = rqbl::FormatInto(pszText, nChars, L"%d ", nTraceNum);
    if (pszFormat != nullptr && nUsed + 1 < nChars) {
        nUsed += rqbl::FormatIntoV(pszText + nUsed, nChars - nUsed, pszFormat, args);
    }
    return nUsed;
}

void CRQBLLogTraceNum::Trace(int nTraceNum, const wchar_t* pszFormat, ...) {
    (void)m_nLine;
    int nKind = LevelToKind(m_nLevel);
    if (nKind < 0) {
        return;
    }
    wchar_t szText[TEXT_BUFFER_CHARS];
    va_list args;
    va_start(args, pszFormat);
    FormatText(szText, TEXT_BUFFER_CHARS, nTraceNum, pszFormat, args);
    va_end(args);
    m_log.TraceLine(m_pszFunction, m_nLevel, szText);
}
