#include "baselib/RQBLHex.h"

namespace {

int DigitValue(uint32_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<int>(c - 'A' + 10);
    }
    return -1;
}

template <typename CharT>
bool FromHex(std::basic_string_view<CharT> strHex, uint8_t* pOut, size_t nSize) {
    if (strHex.size() != 2 * nSize) {
        return false;
    }
    for (CharT c : strHex) {
        if (DigitValue(static_cast<uint32_t>(c)) < 0) {
            return false;
        }
    }
    for (size_t i = 0; i < nSize; ++i) {
        pOut[i] = static_cast<uint8_t>(DigitValue(static_cast<uint32_t>(strHex[2 * i])) * 16 +
                                       DigitValue(static_cast<uint32_t>(strHex[2 * i + 1])));
    }
    return true;
}

}  // namespace

std::string RQBLToHex(const uint8_t* pData, size_t nSize) {
    static const char kDigits[] = "0123456789abcdef";
    std::string strOut(2 * nSize, '0');
    for (size_t i = 0; i < nSize; ++i) {
        strOut[2 * i] = kDigits[pData[i] >> 4];
        strOut[2 * i + 1] = kDigits[pData[i] & 0x0F];
    }
    return strOut;
}

bool RQBLFromHex(std::string_view strHex, uint8_t* pOut, size_t nSize) {
    return FromHex(strHex, pOut, nSize);
}

bool RQBLFromHex(std::wstring_view strHex, uint8_t* pOut, size_t nSize) {
    return FromHex(strHex, pOut, nSize);
}
