#include <cstdio>
#include <string>
#include <vector>

#include "tools/logdump/LogDumpApp.h"

int main(int argc, char** argv) {
    // File names and options are passed on as the bytes they are (UTF-8 on
    // any current system).
    std::vector<std::string> vecArgs(argv + 1, argv + argc);
    return RunLogDump(vecArgs, stdout, stderr);
}
