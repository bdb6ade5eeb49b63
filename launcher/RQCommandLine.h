// The launcher's command-line switch "_C <base URL>".
#pragma once

#include <string>
#include <vector>

// Examines every argument in order, the program path included. An argument
// that upper-cases to exactly "_C" takes the next argument, unchanged, as the
// base URL and skips it; a switch in last position is ignored; a later switch
// wins. Returns strCurrent when no switch applies.
std::wstring ReadCdnSwitch(const std::vector<std::wstring>& vecArgs, const std::wstring& strCurrent);
