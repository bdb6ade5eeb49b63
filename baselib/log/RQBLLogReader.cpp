#include "baselib/log/RQBLLogReader.h"

#include <iterator>

#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeedCbc.h"
#include "baselib/log/RQBLUtil.h"

namespace {

enum : size_t { LENGTH_BLOCK_BYTES = SEED_BLOCK_BYTES };

// Deciphers one SEED-CBC run and undoes the XOR transform; false when the
// padding is unsound.
bool Decipher(const uint8_t* pIn, size_t nLen, const std::vector<int32_t>& key,
              std::vector<uint8_t>& vecOut) {
    std::vector<uint8_t> vecPlain(nLen);
    int nPlain = 0;
    if (SeedCbcDecryptKeyed(RQBL_SEED_KEY, RQBL_SEED_IV, pIn, static_cast<int>(nLen), vecPlain.data(),
                            &nPlain) != 1) {
        return false;
    }
    const uint8_t* pClear = CRQBLUtil::XORDecrypt(vecPlain.data(), nPlain, key, true, false);
    if (pClear == nullptr) {
        return false;
    }
    vecOut.assign(pClear, pClear + nPlain);
    return true;
}

void Fail(RQBL_LOG_READ_RESULT& result, int nStatus, uint64_t nOffset, std::string strReason) {
    result.nStatus = nStatus;
    result.nBadOffset = nOffset;
    result.strReason = std::move(strReason);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

}  // namespace

RQBL_LOG_READ_RESULT RQBLReadLogRecords(const uint8_t* pData, size_t nSize) {
    return RQBLReadLogRecordsWithKey(pData, nSize,
                                     std::vector<int32_t>(std::begin(RQBL_LOG_KEY), std::end(RQBL_LOG_KEY)));
}

RQBL_LOG_READ_RESULT RQBLReadLogRecordsWithKey(const uint8_t* pData, size_t nSize,
                                               const std::vector<int32_t>& key) {
    RQBL_LOG_READ_RESULT result;
    size_t nPos = 0;
    std::vector<uint8_t> vecClear;
    while (nPos < nSize) {
        const size_t nLeft = nSize - nPos;
        const uint64_t nOffset = nPos;
        if (nLeft < LENGTH_BLOCK_BYTES) {
            Fail(result, LOG_READ_TRUNCATED, nOffset,
                 "length block cut short (" + std::to_string(nLeft) + " of 16 bytes)");
            break;
        }
        if (!Decipher(pData + nPos, LENGTH_BLOCK_BYTES, key, vecClear) || vecClear.size() != 4) {
            Fail(result, LOG_READ_DAMAGED, nOffset, "length block does not decipher");
            break;
        }
        const int32_t nText =
            static_cast<int32_t>(uint32_t{vecClear[0]} | (uint32_t{vecClear[1]} << 8) |
                                 (uint32_t{vecClear[2]} << 16) | (uint32_t{vecClear[3]} << 24));
        if (nText < 0 || nText % SEED_BLOCK_BYTES != 0) {
            Fail(result, LOG_READ_DAMAGED, nOffset, "impossible text block length " + std::to_string(nText));
            break;
        }
        const size_t nTextBytes = static_cast<size_t>(nText);
        if (nTextBytes > nLeft - LENGTH_BLOCK_BYTES) {
            Fail(result, LOG_READ_TRUNCATED, nOffset,
                 "text block cut short (" + std::to_string(nLeft - LENGTH_BLOCK_BYTES) + " of " +
                     std::to_string(nTextBytes) + " bytes)");
            break;
        }
        RQBL_LOG_RECORD record;
        record.nOffset = nOffset;
        // A text block of length 0 is sound: the writer stores it so when
        // enciphering the text failed.
        if (nTextBytes > 0) {
            if (!Decipher(pData + nPos + LENGTH_BLOCK_BYTES, nTextBytes, key, vecClear)) {
                Fail(result, LOG_READ_DAMAGED, nOffset, "text block does not decipher");
                break;
            }
            if (vecClear.size() % 2 != 0) {
                Fail(result, LOG_READ_DAMAGED, nOffset, "text block holds an odd number of bytes");
                break;
            }
            record.strLine.resize(vecClear.size() / 2);
            for (size_t i = 0; i < record.strLine.size(); ++i) {
                record.strLine[i] = static_cast<char16_t>(vecClear[2 * i] | (vecClear[2 * i + 1] << 8));
            }
        }
        result.vecRecords.push_back(std::move(record));
        nPos += LENGTH_BLOCK_BYTES + nTextBytes;
    }
    return result;
}

std::string RQBLStripLineEnd(const std::string& strLine) {
    size_t n = strLine.size();
    if (n > 0 && strLine[n - 1] == '\n') {
        --n;
        if (n > 0 && strLine[n - 1] == '\r') {
            --n;
        }
    }
    return strLine.substr(0, n);
}

bool RQBLSplitLogLine(const std::string& strLine, RQBL_LOG_LINE_PARTS& parts) {
    const std::string strBody = RQBLStripLineEnd(strLine);
    // "[ERR][09:05:03] " is 16 characters.
    const bool bForm = strBody.size() >= 16 && strBody[0] == '[' && IsUpper(strBody[1]) &&
                       IsUpper(strBody[2]) && IsUpper(strBody[3]) && strBody[4] == ']' && strBody[5] == '[' &&
                       IsDigit(strBody[6]) && IsDigit(strBody[7]) && strBody[8] == ':' &&
                       IsDigit(strBody[9]) && IsDigit(strBody[10]) && strBody[11] == ':' &&
                       IsDigit(strBody[12]) && IsDigit(strBody[13]) && strBody[14] == ']' &&
                       strBody[15] == ' ';
    if (!bForm) {
        parts.strLevel.clear();
        parts.strTime.clear();
        parts.strText = strBody;
        return false;
    }
    parts.strLevel = strBody.substr(1, 3);
    parts.strTime = strBody.substr(6, 8);
    parts.strText = strBody.substr(16);
    return true;
}
