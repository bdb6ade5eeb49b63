#include "tools/mkpatch/RQToolArgs.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>

// argv holds the arguments in the ANSI code page, which loses characters
// outside it; the wide command line has them all.
std::vector<std::string> RQToolArgsUtf8(int /*argc*/, char** /*argv*/) {
    std::vector<std::string> vecArgs;
    int nArgs = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> args(CommandLineToArgvW(GetCommandLineW(), &nArgs),
                                                       &LocalFree);
    LPWSTR* pArgs = args.get();
    if (pArgs == nullptr) {
        return vecArgs;
    }
    for (int i = 0; i < nArgs; ++i) {
        int nBytes = WideCharToMultiByte(CP_UTF8, 0, pArgs[i], -1, nullptr, 0, nullptr, nullptr);
        std::string strArg(nBytes > 0 ? static_cast<size_t>(nBytes) : 1u, '\0');
        WideCharToMultiByte(CP_UTF8, 0, pArgs[i], -1, strArg.data(), nBytes, nullptr, nullptr);
        strArg.resize(strArg.size() - 1);
        vecArgs.push_back(strArg);
    }
    return vecArgs;
}
