// TEMPORARY stand-in (see standin/README).
#pragma once

#include <cstdint>

#include "baselib/RQBLSingleton.h"

class CRQBLCrc32 : public CRQBLSingleton<CRQBLCrc32> {
public:
    bool GetFileCrc(const wchar_t* pszPath, uint32_t& dwCrc);
};
