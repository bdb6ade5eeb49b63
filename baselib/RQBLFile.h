// A C stream with one owner, closed exactly once.
#pragma once

#include <cstdio>

#include "baselib/RQBLUniqueHandle.h"

struct RQBLFileTraits {
    using handle_type = FILE*;
    static FILE* Empty() { return nullptr; }
    static bool IsValid(FILE* p) { return p != nullptr; }
    static void Close(FILE* p) { std::fclose(p); }
};
using CRQBLFile = CRQBLUniqueHandle<RQBLFileTraits>;
