// UTF-8 and the wide text of Windows, and whole files as bytes.
#pragma once

#include <string>

namespace rqcrash {

std::string ToUtf8(const std::wstring& strText);
std::wstring FromUtf8(const std::string& strText);

// Reads a file that others may still hold open for writing.
bool ReadFileBytes(const std::wstring& strPath, std::string& strBytes);
bool WriteFileBytes(const std::wstring& strPath, const std::string& strBytes);

// The folder of the running program, without a trailing separator.
std::wstring ProgramFolder();

}  // namespace rqcrash
