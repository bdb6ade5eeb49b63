// The process set-up steps that reach the operating system (heap, GDI+,
// memory counters). Windows does them;
// the POSIX build has nothing to set up and answers what it can.
#pragma once

#include <cstdint>

#include "baselib/log/RQBLLogSink.h"

namespace rqbl {

struct RQBL_MEMORY_COUNTERS {
    uint64_t nWorkingSetSize = 0;
    uint64_t nPagefileUsage = 0;
};

// The process's memory counters; false when the process cannot be queried.
bool QueryProcessMemory(RQBL_MEMORY_COUNTERS& counters);

// Turns on the low-fragmentation heap for the process heap; result ignored.
void EnableLowFragmentationHeap();

}  // namespace rqbl

// GDI+ for as long as the object lives (the screen capture of a crash report
// saves its picture through it). A failed start is logged and leaves the
// program without it.
class CRQBLGdiplus {
public:
    explicit CRQBLGdiplus(CRQBLLogSink& log);
    ~CRQBLGdiplus();
    CRQBLGdiplus(const CRQBLGdiplus&) = delete;
    CRQBLGdiplus& operator=(const CRQBLGdiplus&) = delete;
    bool Started() const { return m_bStarted; }

private:
    uintptr_t m_nToken = 0;
    bool m_bStarted = false;
};
