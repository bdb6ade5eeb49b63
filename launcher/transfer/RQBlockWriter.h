// Writes and checksums a download's bytes on a thread of its own. Without
// it, every network read waits for the block before it to be written and
// hashed; with it, the next read goes out while the disk and the checksums
// take the last one, and a fast line is no longer held to the speed of the
// three done one after the other.
//
// One per transfer slot, kept for all its files. The bytes are copied into a
// ring of RING_BYTES (taken at the first large file, not before), so a read
// can be handed over at once while the writer is at most that far behind; a
// read that finds the ring full waits for room, which is how a slow disk
// slows the network reads down instead of filling the memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CRQBlockWriter {
public:
    // Runs on the writer's thread for each piece, in order; false when it
    // failed (the pieces after it are dropped, and Push and Drain say so).
    using PieceFn = std::function<bool(const uint8_t* pData, size_t nBytes)>;

    enum : size_t {
        RING_BYTES = 8 * 1024 * 1024,
        // The writer takes at most this much at a time, so that room comes
        // free steadily and a piece is still in the cache when it is hashed.
        STEP_BYTES = 1024 * 1024,
    };

    CRQBlockWriter() = default;
    // Finishes what was handed over first.
    ~CRQBlockWriter();
    CRQBlockWriter(const CRQBlockWriter&) = delete;
    CRQBlockWriter& operator=(const CRQBlockWriter&) = delete;

    // A new run of pieces for fnPiece (what an earlier run handed over is
    // finished first). False when no thread could be started: the caller
    // then does the work itself.
    bool Begin(PieceFn fnPiece);
    // Copies the piece into the ring; false when an earlier piece failed.
    bool Push(const uint8_t* pData, size_t nBytes);
    // Waits until every piece pushed since Begin has been through fnPiece;
    // false when one failed. The run is over then: Push needs a new Begin.
    bool Drain();

private:
    void WriterMain();

    std::mutex m_mutex;
    std::condition_variable m_cvWork;  // the writer waits for pieces
    std::condition_variable m_cvRoom;  // Push and Drain wait for the writer
    std::unique_ptr<uint8_t[]> m_pRing;
    // Bytes ever pushed and ever taken through fnPiece; the ring holds the
    // difference.
    uint64_t m_ullPushed = 0;
    uint64_t m_ullDone = 0;
    PieceFn m_fnPiece;
    bool m_bFailed = false;
    bool m_bQuit = false;
    std::thread m_thread;
};
