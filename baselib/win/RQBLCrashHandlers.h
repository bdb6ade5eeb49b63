// Exception information for the crash reporter, built outside an exception.
#pragma once

#include <windows.h>

#include <cstdint>

// Captures the calling thread's context and builds an exception record with
// code dwCode whose address is the return point of this call (the place in
// the caller that asked). The records come from the process heap, or from
// static storage when the heap is exhausted (a failed allocation is one of
// the errors being reported); they are never freed.
void BuildExceptionPointers(uint32_t dwCode, EXCEPTION_POINTERS** ppPointers);
