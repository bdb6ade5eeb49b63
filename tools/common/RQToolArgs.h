// The operator tools' command-line arguments as UTF-8, whatever the system's
// code page; the first is the program itself.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> RQToolArgsUtf8(int argc, char** argv);
