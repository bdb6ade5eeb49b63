// logdump: prints the lines of enciphered .log files. Everything but the
// process entry lives here, so that tests can run the tool in-process.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum : int {
    LOGDUMP_OK = 0,
    LOGDUMP_BAD_RECORD = 1,  // a truncated or damaged record; the lines before it were printed
    LOGDUMP_USAGE = 2,
    LOGDUMP_UNREADABLE = 3,  // a file could not be opened or read
};

// vecArgs: the command line after the program name, in UTF-8. Lines go to
// pOut as UTF-8, messages to pErr. Returns the exit code.
int RunLogDump(const std::vector<std::string>& vecArgs, FILE* pOut, FILE* pErr);
