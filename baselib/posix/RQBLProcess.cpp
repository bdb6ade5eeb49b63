#include "baselib/RQBLProcess.h"

#include <unistd.h>

#include <cstdio>

namespace rqbl {

bool QueryProcessMemory(RQBL_MEMORY_COUNTERS& counters) {
    // /proc/self/statm: total, resident, shared, text, lib, data (+ stack), dirty
    // in pages. Resident stands for the working set and data for the private
    // committed memory that Windows reports as page-file usage.
    FILE* pStream = std::fopen("/proc/self/statm", "r");
    if (pStream == nullptr) {
        return false;
    }
    unsigned long long nTotal = 0, nResident = 0, nShared = 0, nText = 0, nLib = 0, nData = 0;
    int nRead = std::fscanf(pStream, "%llu %llu %llu %llu %llu %llu", &nTotal, &nResident, &nShared, &nText,
                            &nLib, &nData);
    std::fclose(pStream);
    if (nRead != 6) {
        return false;
    }
    auto nPage = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    counters.nWorkingSetSize = nResident * nPage;
    counters.nPagefileUsage = nData * nPage;
    return true;
}

void EnableLowFragmentationHeap() {}

void StartSocketLibrary() {}

bool StartGdiplus(const RQBL_GDIPLUS_INPUT& /*input*/, uintptr_t& nToken) {
    nToken = 0;
    return true;
}

void StopGdiplus(uintptr_t /*nToken*/) {}

}  // namespace rqbl
