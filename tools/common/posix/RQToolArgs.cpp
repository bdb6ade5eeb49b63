#include "tools/common/RQToolArgs.h"

// Linux passes arguments as the bytes the user typed, UTF-8 in practice.
std::vector<std::string> RQToolArgsUtf8(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}
