// Command-line arguments as UTF-8, whatever the system's code page.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> RQToolArgsUtf8(int argc, char** argv);
