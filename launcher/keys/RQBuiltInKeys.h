// The public keys whose signatures on PATCHER_CODE.LUA this launcher accepts,
// fixed when it is built (the build setting RQ_TRUSTED_KEYS). Every executable
// compiles its own copy of RQBuiltInKeys.cpp with its own list (cmake's
// rq_add_trusted_keys), so one build can hold launchers with different keys.
#pragma once

#include <vector>

#include "baselib/RQBLEd25519.h"

// Empty when the launcher was built without keys: scripts are then taken unsigned.
std::vector<RQ_PUBLIC_KEY> RQBuiltInTrustedKeys();
