// Small helpers for protocol text (HTTP headers, form fields), which is
// ASCII whatever the bytes around it.
#pragma once

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
