// TEMPORARY stand-in (see standin/README).
#pragma once

#include <cstdint>
#include <string>

struct CODE_INFO {
    std::wstring strPath;
    std::wstring strFileName;
    uint32_t dwCRC = 0;
    uint64_t ullValue6 = 0;
    int32_t nValue4 = 0;
    bool bValue9 = true;
    uint64_t ullFileSize = 0;
    int32_t nValue7 = 0;
    int32_t nValue8 = 0;
    uint32_t dwValue10 = 0;
    bool bValue11 = false;
    bool bValue12 = false;
};
