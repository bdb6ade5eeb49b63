// UTF-8 and the wide text of Windows, whole files as bytes, the program's path.
#pragma once

#include <string>

namespace rqcrash {

std::string ToUtf8(const std::wstring& strText);
std::wstring FromUtf8(const std::string& strText);

// Reads a file that others may still hold open for writing.
bool ReadFileBytes(const std::wstring& strPath, std::string& strBytes);
bool WriteFileBytes(const std::wstring& strPath, const std::string& strBytes);

// The running program's path; empty when the system cannot say.
std::wstring ModulePath();
// Its folder, without a trailing separator ("." when the system cannot say).
std::wstring ProgramFolder();

}  // namespace rqcrash
