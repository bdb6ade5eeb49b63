// The process set-up steps of the runtime object that reach the operating
// system (heap, socket library, GDI+, memory counters). Windows does them;
// the POSIX build has nothing to set up and answers what it can.
#pragma once

#include <cstdint>

// The GDI+ start-up input record, kept free of Windows types.
struct RQBL_GDIPLUS_INPUT {
    uint32_t nGdiplusVersion = 1;
    void* pDebugEventCallback = nullptr;
    bool bSuppressBackgroundThread = false;
    bool bSuppressExternalCodecs = false;
};

namespace rqbl {

struct RQBL_MEMORY_COUNTERS {
    uint64_t nWorkingSetSize = 0;
    uint64_t nPagefileUsage = 0;
};

// The process's memory counters; false when the process cannot be queried.
bool QueryProcessMemory(RQBL_MEMORY_COUNTERS& counters);

// Turns on the low-fragmentation heap for the process heap; result ignored.
void EnableLowFragmentationHeap();

// Starts the socket library (version 2.2) and cleans up silently when the
// start fails or gives another version.
void StartSocketLibrary();

// False when GDI+ reports a failure; the token is kept for StopGdiplus.
bool StartGdiplus(const RQBL_GDIPLUS_INPUT& input, uintptr_t& nToken);
void StopGdiplus(uintptr_t nToken);

}  // namespace rqbl
