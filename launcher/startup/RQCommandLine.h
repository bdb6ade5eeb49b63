// The launcher's command-line switch "_C <base URL>".
#pragma once

#include <string>
#include <vector>

// Examines every argument in order, the program path included. An argument
// that upper-cases to exactly "_C" takes the next argument, unchanged, as the
// base URL and skips it; a switch in last position is ignored; a later switch
// wins. Returns strCurrent when no switch applies.
std::wstring ReadCdnSwitch(const std::vector<std::wstring>& vecArgs, const std::wstring& strCurrent);

// True when an argument after the program path upper-cases to exactly
// "_REPAIR".
bool HasRepairSwitch(const std::vector<std::wstring>& vecArgs);

// The command line without its "_REPAIR" arguments (and the blank before
// each), everything else exactly as it was. Arguments are split as the
// system's CommandLineToArgvW splits them, so a quoted "_REPAIR" goes too and
// "x_REPAIR" or a "_REPAIR" inside a quoted argument stays.
std::wstring RQRemoveRepairSwitch(const std::wstring& strCommandLine);
