// Whole files as bytes.
#pragma once

#include <string>

namespace rqcrash {

// Reads a file that others may still hold open for writing.
bool ReadFileBytes(const std::wstring& strPath, std::string& strBytes);
bool WriteFileBytes(const std::wstring& strPath, const std::string& strBytes);

}  // namespace rqcrash
