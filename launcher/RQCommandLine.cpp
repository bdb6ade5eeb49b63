#include "launcher/RQCommandLine.h"

#include <cwctype>

namespace {
bool IsCdnSwitch(const std::wstring& strArg) {
    return strArg.size() == 2 && std::towupper(strArg[0]) == L'_' && std::towupper(strArg[1]) == L'C';
}
}  // namespace

std::wstring ReadCdnSwitch(const std::vector<std::wstring>& vecArgs, const std::wstring& strCurrent) {
    std::wstring strAddress = strCurrent;
    for (size_t i = 0; i < vecArgs.size(); ++i) {
        if (IsCdnSwitch(vecArgs[i]) && i + 1 < vecArgs.size()) {
            strAddress = vecArgs[i + 1];
            ++i;
        }
    }
    return strAddress;
}
