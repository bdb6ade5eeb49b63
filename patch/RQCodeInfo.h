// One entry of the patch script's CODE_TABLE or DELETE_CODE_TABLE. The
// comments give the entry's slot that each field is read from.
#pragma once

#include <cstdint>
#include <string>

struct CODE_INFO {
    std::wstring strPath;      // 1: folder prefix, ending with a separator or empty
    std::wstring strFileName;  // 2: file name
    uint32_t dwCRC = 0;        // 3: CRC-32 of the file's content
    uint64_t ullValue6 = 0;    // 6
    int32_t nValue4 = 0;       // 4
    bool bValue9 = true;       // 9
    uint64_t ullFileSize = 0;  // 5: size in bytes
    int32_t nValue7 = 0;       // 7
    int32_t nValue8 = 0;       // 8
    uint32_t dwValue10 = 0;    // 10
    bool bValue11 = false;     // 11
    bool bValue12 = false;     // 12
    std::wstring strSHA256;    // 13: SHA-256 of the content in 64 hexadecimal digits, or empty
    // 14: SHA-256 of the file's chunk index (a delta release), or empty.
    std::wstring strDeltaIndex;
};
