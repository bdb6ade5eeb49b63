// A scratch buffer per thread, kept for all the calls a thread makes and
// freed when the thread ends.
//
// Why not a thread_local std::vector or unique_ptr: with mingw-w64's emulated
// thread-local storage, a thread_local's storage can be freed before its
// destructor runs when the thread ends, and the destructor then touches freed
// memory (an access violation in an ending thread, long after the work it did;
// seen at the end of an update). Here the buffer's address is the value of a
// pthread key instead, and the key's own destructor frees it: no destructor
// ever reads thread-local storage.
#pragma once

#include <cstddef>
#include <cstdint>

class CRQBLThreadScratch {
public:
    CRQBLThreadScratch();
    // The key outlives every thread that may still end: instances are made
    // once and never destroyed (see Make).
    ~CRQBLThreadScratch() = delete;
    CRQBLThreadScratch(const CRQBLThreadScratch&) = delete;
    CRQBLThreadScratch& operator=(const CRQBLThreadScratch&) = delete;

    // One that is never destroyed.
    static CRQBLThreadScratch& Make();

    // This thread's buffer, at least nBytes long (its old content is kept up
    // to its old size); null when it cannot be had.
    uint8_t* Get(size_t nBytes);
    // The length of this thread's buffer (0 before the first Get).
    size_t Size() const;
    // Frees this thread's buffer now.
    void Release();

private:
    unsigned long m_key = 0;  // a pthread_key_t
    bool m_bKey = false;
};
