#include "launcher/startup/RQCommandLine.h"

#include <cwctype>

namespace {

bool IsSwitch(const std::wstring& strArg, const wchar_t* pszName) {
    size_t i = 0;
    for (; pszName[i] != L'\0'; ++i) {
        if (i >= strArg.size() || static_cast<wchar_t>(std::towupper(strArg[i])) != pszName[i]) {
            return false;
        }
    }
    return i == strArg.size();
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

struct CToken {
    size_t nBegin = 0;
    size_t nEnd = 0;
    std::wstring strValue;
};

// The program path: up to the closing quote when it starts with one, else up
// to the first blank; backslashes are plain characters here.
CToken ReadProgramToken(const std::wstring& s) {
    CToken token;
    size_t i = 0;
    if (!s.empty() && s[0] == L'"') {
        for (i = 1; i < s.size() && s[i] != L'"'; ++i) {
            token.strValue.push_back(s[i]);
        }
        i = i < s.size() ? i + 1 : i;
    }
    for (; i < s.size() && !IsBlank(s[i]); ++i) {
        token.strValue.push_back(s[i]);
    }
    token.nEnd = i;
    return token;
}

// One argument from nPos (on its first character): 2n backslashes before a
// quote give n backslashes and the quote opens or closes, 2n+1 give n and a
// literal quote; two quotes inside quotes give one literal quote.
CToken ReadArgumentToken(const std::wstring& s, size_t nPos) {
    CToken token;
    token.nBegin = nPos;
    bool bQuoted = false;
    size_t i = nPos;
    while (i < s.size() && (bQuoted || !IsBlank(s[i]))) {
        if (s[i] == L'\\') {
            size_t nSlashes = 0;
            while (i < s.size() && s[i] == L'\\') {
                ++nSlashes;
                ++i;
            }
            if (i < s.size() && s[i] == L'"') {
                token.strValue.append(nSlashes / 2, L'\\');
                if (nSlashes % 2 == 1) {
                    token.strValue.push_back(L'"');
                    ++i;
                }
            } else {
                token.strValue.append(nSlashes, L'\\');
            }
            continue;
        }
        if (s[i] == L'"') {
            if (bQuoted && i + 1 < s.size() && s[i + 1] == L'"') {
                token.strValue.push_back(L'"');
                i += 2;
                continue;
            }
            bQuoted = !bQuoted;
            ++i;
            continue;
        }
        token.strValue.push_back(s[i]);
        ++i;
    }
    token.nEnd = i;
    return token;
}

}  // namespace

std::wstring ReadCdnSwitch(const std::vector<std::wstring>& vecArgs, const std::wstring& strCurrent) {
    std::wstring strAddress = strCurrent;
    for (size_t i = 0; i < vecArgs.size(); ++i) {
        if (IsSwitch(vecArgs[i], L"_C") && i + 1 < vecArgs.size()) {
            strAddress = vecArgs[i + 1];
            ++i;
        }
    }
    return strAddress;
}

bool HasRepairSwitch(const std::vector<std::wstring>& vecArgs) {
    for (size_t i = 1; i < vecArgs.size(); ++i) {
        if (IsSwitch(vecArgs[i], L"_REPAIR")) {
            return true;
        }
    }
    return false;
}

std::wstring RQRemoveRepairSwitch(const std::wstring& strCommandLine) {
    std::wstring strOut;
    size_t nKeptUpTo = ReadProgramToken(strCommandLine).nEnd;
    strOut.assign(strCommandLine, 0, nKeptUpTo);
    size_t i = nKeptUpTo;
    for (;;) {
        while (i < strCommandLine.size() && IsBlank(strCommandLine[i])) {
            ++i;
        }
        if (i >= strCommandLine.size()) {
            break;
        }
        CToken token = ReadArgumentToken(strCommandLine, i);
        if (!IsSwitch(token.strValue, L"_REPAIR")) {
            // The blanks before it and the argument, as they were.
            strOut.append(strCommandLine, nKeptUpTo, token.nEnd - nKeptUpTo);
        }
        nKeptUpTo = token.nEnd;
        i = token.nEnd;
    }
    // Trailing blanks stay.
    strOut.append(strCommandLine, nKeptUpTo, std::wstring::npos);
    return strOut;
}
