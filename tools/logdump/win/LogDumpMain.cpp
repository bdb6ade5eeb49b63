#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLogReader.h"
#include "tools/logdump/LogDumpApp.h"

// The wide entry point: file names with Japanese characters reach the tool
// whatever the system's ANSI code page is.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> vecArgs;
    for (int i = 1; i < argc; ++i) {
        vecArgs.push_back(RQBLUtf16ToUtf8(rqbl::WideToUtf16(argv[i])));
    }
    // UTF-8 bytes out, untranslated (no LF to CR LF), so that the output is the
    // same as on other systems; a console is switched to show UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    DWORD dwMode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &dwMode)) {
        SetConsoleOutputCP(CP_UTF8);
    }
    return RunLogDump(vecArgs, stdout, stderr);
}
