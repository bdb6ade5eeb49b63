// mkpatch --verify: fetches a published release as a launcher would, from
// its base URL: the script, its signature, the key list and the timestamp
// (which must name the very files the server gives), then for every listed
// file the whole file, its chunk index, and both compressed objects, each checked
// against what the script and the index say. Every object that is missing or
// differs is reported, so an operator finds a half-finished upload to the
// CDN before the players do.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "baselib/RQBLTransport.h"

struct RQ_RELEASE_CHECK {
    uint64_t ullObjects = 0;                // fetched and checked
    uint64_t ullBytes = 0;                  // received
    std::vector<std::wstring> vecProblems;  // one line each
    std::wstring strSignature;              // what the signature file says, or why there is none
};

using RQTransportFactory = std::function<std::unique_ptr<CRQBLTransport>()>;

// strBaseUrl ends with "/". nThreads objects are fetched at once, each with a
// transport of its own. fnProgress (may be empty) hears of every object done.
RQ_RELEASE_CHECK RQCheckPublishedRelease(
    const std::wstring& strBaseUrl, const RQTransportFactory& fnTransport, unsigned nThreads,
    const std::function<void(uint64_t nDone, uint64_t nTotal)>& fnProgress);
