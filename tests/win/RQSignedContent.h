// Signed test content: patch scripts with each file's SHA-256
// (RQTestPatchScript.h), signed with one of the committed test keys, and a
// file forged to keep a listed size and CRC-32 (RQTestCrcForge.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RQTestCrcForge.h"
#include "RQTestPatchScript.h"

namespace rqtest {

// PATCHER_CODE.LUA.sig for the script, signed with tests/fixtures/keys/NAME.key
// (copied beside the test programs); empty when the key cannot be read.
std::string SignScript(const std::string& strScript, const wchar_t* pszKeyName, uint64_t ullRelease,
                       const std::string& strExpires = std::string());

// The files beside the script for a launcher whose root is pszRoot: a key
// list (version 1) naming pszRelease, the script's signature by it, and a
// timestamp by it valid three days from nNow (made as mkpatch makes them).
// All empty when a key cannot be read.
struct CKeyListUpdate {
    std::string strKeyList;
    std::string strSignature;
    std::string strTimestamp;
};
CKeyListUpdate MakeKeyListUpdate(const std::string& strScript, const wchar_t* pszRoot,
                                 const wchar_t* pszRelease, uint64_t ullRelease, int64_t nNow);

}  // namespace rqtest
