// Reads .log files back: deciphers every record (SEED-CBC, padding check,
// inverse XOR transform, UTF-16LE) for support tools and tests. The launcher
// itself never reads its logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLUtf8.h"

struct RQBL_LOG_RECORD {
    uint64_t nOffset = 0;    // where the record starts in its file
    std::u16string strLine;  // the prefixed line as written, CR LF included
};

enum RQBL_LOG_READ_STATUS : int {
    LOG_READ_OK = 0,
    LOG_READ_TRUNCATED = 1,  // the data ends inside a record
    LOG_READ_DAMAGED = 2,    // a record does not decipher to a sound record
};

struct RQBL_LOG_READ_RESULT {
    std::vector<RQBL_LOG_RECORD> vecRecords;  // every record before the first bad one
    int nStatus = LOG_READ_OK;
    uint64_t nBadOffset = 0;  // start of the first bad record
    std::string strReason;    // what is wrong with it, in English
};

// Deciphers the bytes of a whole .log file with the program's fixed key words.
// Reading stops at the first truncated or damaged record: records carry no
// marker to find the next one by. Damage inside a text block that leaves its
// padding intact cannot be told from text and comes back as garbled text.
RQBL_LOG_READ_RESULT RQBLReadLogRecords(const uint8_t* pData, size_t nSize);
RQBL_LOG_READ_RESULT RQBLReadLogRecordsWithKey(const uint8_t* pData, size_t nSize,
                                               const std::vector<int32_t>& key);

// A line "[ERR][09:05:03] 130011 NO CDN\r\n" in its parts: "ERR", "09:05:03" and
// "130011 NO CDN". The final CR LF is dropped. A line of another form gives
// false, with empty level and time and the whole line (less CR LF) as text.
struct RQBL_LOG_LINE_PARTS {
    std::string strLevel;
    std::string strTime;
    std::string strText;
};
bool RQBLSplitLogLine(const std::string& strLine, RQBL_LOG_LINE_PARTS& parts);

// The line without its final CR LF (or LF).
std::string RQBLStripLineEnd(const std::string& strLine);
