#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/RQToolArgs.h"
#include "tools/logdump/LogDumpApp.h"

int main(int argc, char** argv) {
    // File names with Japanese characters reach the tool whatever the
    // system's ANSI code page is.
    std::vector<std::string> vecArgs = RQToolArgsUtf8(argc, argv);
    if (!vecArgs.empty()) {
        vecArgs.erase(vecArgs.begin());  // the program itself
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
