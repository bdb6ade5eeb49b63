// Values of an INI text (the address file), read the way the system's profile
// functions read them: sections and keys without regard to case, blanks
// around names and values dropped, one pair of quotes around a value removed,
// the first section and key of a name winning.
#pragma once

#include <string>

// False when the section or the key is missing; strValue is then empty.
bool RQReadIniString(const std::wstring& strText, const std::wstring& strSection, const std::wstring& strKey,
                     std::wstring& strValue);
// The key's leading decimal number ("12abc" gives 12); nDefault when the key
// is missing or holds no number.
int RQReadIniInt(const std::wstring& strText, const std::wstring& strSection, const std::wstring& strKey,
                 int nDefault);
