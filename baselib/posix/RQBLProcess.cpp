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

}  // namespace rqbl

// Nothing to draw with outside Windows: the object only marks where the
// program would have it.
CRQBLGdiplus::CRQBLGdiplus(CRQBLLogSink& /*log*/) : m_bStarted(true) {}
CRQBLGdiplus::~CRQBLGdiplus() = default;
