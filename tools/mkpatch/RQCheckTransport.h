// The transports mkpatch --verify fetches with: the system's HTTP client, as
// on the players' machines where there is one (WinINet), libcurl elsewhere.
#pragma once

#include <cstdint>

#include "tools/mkpatch/RQReleaseCheck.h"

// Makes a transport per call; nothing that moves for dwTimeoutMs ends a fetch.
RQTransportFactory RQCheckTransports(uint32_t dwTimeoutMs);
