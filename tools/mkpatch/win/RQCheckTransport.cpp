#include "tools/mkpatch/RQCheckTransport.h"

#include "baselib/win/RQBLWinInetTransport.h"

RQTransportFactory RQCheckTransports(uint32_t dwTimeoutMs) {
    // One session for all of them: WinINet keeps a session's connections
    // alive between requests.
    auto pSession = std::make_shared<CRQBLInternetSession>(dwTimeoutMs, 16);
    return [pSession] { return std::make_unique<CRQBLWinInetTransport>(pSession); };
}
