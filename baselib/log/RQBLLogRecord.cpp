#include "baselib/log/RQBLLogRecord.h"

#include <climits>

#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLSeedCbc.h"
#include "baselib/log/RQBLUtil.h"

bool WriteLogRecordWithKey(FILE* pStream, const std::wstring& strLine, const std::vector<int32_t>& key) {
    if (pStream == nullptr) {
        return false;
    }
    // The record holds UTF-16 code units on every platform; wchar_t is 32 bits
    // wide outside Windows, where a character beyond the BMP becomes two units.
    const std::u16string strUnits = rqbl::WideToUtf16(strLine);
    if (strUnits.size() > static_cast<size_t>(INT_MAX / 2 - SEED_BLOCK_BYTES)) {
        return false;
    }
    std::vector<uint8_t> vecText(strUnits.size() * 2);
    for (size_t i = 0; i < strUnits.size(); ++i) {
        vecText[2 * i] = static_cast<uint8_t>(strUnits[i] & 0xff);
        vecText[2 * i + 1] = static_cast<uint8_t>(strUnits[i] >> 8);
    }
    const int nTextLen = static_cast<int>(vecText.size());
    // An empty vector may have no storage, and a null input is an error to the
    // XOR transform; an empty line still gets its (empty) record.
    static const uint8_t s_byNothing = 0;
    const uint8_t* pText = vecText.empty() ? &s_byNothing : vecText.data();

    // The enciphered text stays in SEEDEncrypt's buffer of this thread, which is
    // sized to the line, and is written from there: a long line is neither cut
    // nor copied into a fixed record buffer it could overrun. Nothing below
    // calls SEEDEncrypt again before the write.
    int32_t nCipherLen = 0;
    const uint8_t* pCipher = nullptr;
    if (const uint8_t* pXored = CRQBLUtil::XORDecrypt(pText, nTextLen, key, false, false)) {
        int nOut = 0;
        pCipher = CRQBLUtil::SEEDEncrypt(pXored, nTextLen, &nOut, false);
        nCipherLen = pCipher != nullptr ? nOut : 0;
    }

    const uint8_t abyLength[4] = {
        static_cast<uint8_t>(nCipherLen & 0xff), static_cast<uint8_t>((nCipherLen >> 8) & 0xff),
        static_cast<uint8_t>((nCipherLen >> 16) & 0xff), static_cast<uint8_t>((nCipherLen >> 24) & 0xff)};
    const uint8_t* pLengthXored = CRQBLUtil::XORDecrypt(abyLength, 4, key, false, false);
    if (pLengthXored == nullptr) {
        return false;
    }
    uint8_t abyLengthBlock[4 + SEED_BLOCK_BYTES] = {};
    int nBlockLen = 0;
    if (SeedCbcEncrypt(RQBL_SEED_ARG_KEY, RQBL_SEED_ARG_IV, pLengthXored, 4, abyLengthBlock, &nBlockLen) !=
            1 ||
        nBlockLen != SEED_BLOCK_BYTES) {
        return false;
    }
    std::fwrite(abyLengthBlock, 1, SEED_BLOCK_BYTES, pStream);
    if (nCipherLen > 0) {
        std::fwrite(pCipher, 1, static_cast<size_t>(nCipherLen), pStream);
    }
    return true;
}
