// Signed test content: patch scripts with each file's SHA-256, signed with
// one of the committed test keys, and a file forged to keep a listed size and
// CRC-32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RQTestPatchScript.h"

namespace rqtest {

// CODE_TABLE with slot 13 (SHA-256 in hex) for every entry.
std::string MakeHashedPatchScript(const std::vector<CPatchEntry>& entries);

// PATCHER_CODE.LUA.sig for the script, signed with tests/fixtures/keys/NAME.key
// (copied beside the test programs); empty when the key cannot be read.
std::string SignScript(const std::string& strScript, const wchar_t* pszKeyName, uint64_t ullRelease,
                       const std::string& strExpires = std::string());

// Other bytes of the same length and CRC-32 as strBody.
std::string ForgeSameCrc(const std::string& strBody);

}  // namespace rqtest
