#include "tools/common/RQToolArgs.h"

#include <windows.h>

#include <shellapi.h>

#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"

// argv holds the arguments in the ANSI code page, which loses characters
// outside it; the wide command line has them all.
std::vector<std::string> RQToolArgsUtf8(int /*argc*/, char** /*argv*/) {
    std::vector<std::string> vecArgs;
    int nArgs = 0;
    CRQBLArgv args(CommandLineToArgvW(GetCommandLineW(), &nArgs));
    if (!args) {
        return vecArgs;
    }
    for (int i = 0; i < nArgs; ++i) {
        vecArgs.push_back(RQBLWideToUtf8(args.Get()[i]));
    }
    return vecArgs;
}
