#include "tools/mkpatch/RQCheckTransport.h"

#include "baselib/posix/RQBLCurlTransport.h"

RQTransportFactory RQCheckTransports(uint32_t dwTimeoutMs) {
    return [dwTimeoutMs] { return std::make_unique<CRQBLCurlTransport>(dwTimeoutMs); };
}
