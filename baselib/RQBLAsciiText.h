// Small helpers for protocol text (HTTP headers, form fields), which is
// ASCII whatever the bytes around it.
#pragma once

#include <cstdint>
#include <string>

// ASCII letters in lower case; other bytes as they are.
inline std::string RQBLLowerAscii(std::string str) {
    for (char& ch : str) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return str;
}

// Without the blanks (spaces, tabs, line breaks) at either end.
inline std::string RQBLTrimAscii(const std::string& str) {
    const char* const kBlanks = " \t\r\n";
    size_t nBegin = str.find_first_not_of(kBlanks);
    if (nBegin == std::string::npos) {
        return std::string();
    }
    return str.substr(nBegin, str.find_last_not_of(kBlanks) - nBegin + 1);
}

// A TCP port as protocol text writes it: 1 to 5 decimal digits naming 1 to
// 65535. False (nPort untouched) for anything else.
inline bool RQBLParsePort(const std::string& strText, uint16_t& nPort) {
    if (strText.empty() || strText.size() > 5 ||
        strText.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long nValue = std::stoul(strText);
    if (nValue < 1 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<uint16_t>(nValue);
    return true;
}
