#include "launcher/RQLauncherGlobals.h"

std::wstring g_strCdnAddress;
