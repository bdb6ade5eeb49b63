#include "baselib/log/RQBLLogRecord.h"

#include "baselib/RQBLPlatform.h"

// Until the record cipher is in place the line is stored as ANSI text.
void WriteLogRecord(FILE* pStream, const std::wstring& strLine) {
    std::string strBytes;
    if (rqbl::WideToAnsi(strLine, strBytes)) {
        std::fwrite(strBytes.data(), 1, strBytes.size(), pStream);
    }
}
