// Process-wide values settled by the launcher's start-up.
#pragma once

#include <string>

// Base URL of the content server. Written only by start-up, before the update
// worker exists; read without a lock afterwards.
extern std::wstring g_strCdnAddress;
