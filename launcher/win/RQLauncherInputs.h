// What the start-up settings are made of, as this process finds them: its
// command line, the address file LOGIN_ADDRESS.LAD in the current folder, and
// whether Shift is held.
#pragma once

#include "launcher/startup/RQLauncherSettings.h"

RQ_LAUNCHER_INPUTS RQGatherLauncherInputs(const std::wstring& strDefaultCdnAddress);
