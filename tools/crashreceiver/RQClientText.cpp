#include "tools/crashreceiver/RQClientText.h"

#include <cstdio>

std::string EscapeClientText(const std::string& strText, size_t nMaxBytes) {
    std::string strOut;
    size_t nShown = strText.size() < nMaxBytes ? strText.size() : nMaxBytes;
    strOut.reserve(nShown + 8);
    for (size_t i = 0; i < nShown; ++i) {
        unsigned char by = static_cast<unsigned char>(strText[i]);
        if (by < 0x20 || by >= 0x7F || by == '"' || by == '\\') {
            char sz[8];
            std::snprintf(sz, sizeof(sz), "\\x%02X", static_cast<unsigned>(by));
            strOut += sz;
        } else {
            strOut += static_cast<char>(by);
        }
    }
    if (nShown < strText.size()) {
        strOut += "...";
    }
    return strOut;
}

std::string QuotedClientText(const std::string& strText, size_t nMaxBytes) {
    return "\"" + EscapeClientText(strText, nMaxBytes) + "\"";
}
