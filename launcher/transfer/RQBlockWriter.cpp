#include "launcher/transfer/RQBlockWriter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

CRQBlockWriter::~CRQBlockWriter() {
    if (!m_thread.joinable()) {
        return;
    }
    Drain();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
    }
    m_cvWork.notify_one();
    m_thread.join();
}

bool CRQBlockWriter::Begin(PieceFn fnPiece) {
    Drain();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pRing) {
        m_pRing.reset(new (std::nothrow) uint8_t[RING_BYTES]);
        if (!m_pRing) {
            return false;
        }
    }
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&CRQBlockWriter::WriterMain, this);
        } catch (const std::system_error&) {
            return false;
        }
    }
    m_fnPiece = std::move(fnPiece);
    m_bFailed = false;
    return true;
}

bool CRQBlockWriter::Push(const uint8_t* pData, size_t nBytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (nBytes > 0) {
        m_cvRoom.wait(lock, [this] { return m_bFailed || m_ullPushed - m_ullDone < RING_BYTES; });
        if (m_bFailed) {
            return false;
        }
        // As much as fits before the ring's end and in the room there is.
        const size_t nAt = static_cast<size_t>(m_ullPushed % RING_BYTES);
        const size_t nRoom = RING_BYTES - static_cast<size_t>(m_ullPushed - m_ullDone);
        const size_t n = std::min({nBytes, nRoom, static_cast<size_t>(RING_BYTES) - nAt});
        // The writer never touches the bytes between m_ullPushed and its
        // end of the ring: copying them outside the lock is safe.
        lock.unlock();
        std::memcpy(m_pRing.get() + nAt, pData, n);
        lock.lock();
        m_ullPushed += n;
        pData += n;
        nBytes -= n;
        m_cvWork.notify_one();
    }
    return !m_bFailed;
}

bool CRQBlockWriter::Drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvRoom.wait(lock, [this] { return m_bFailed || m_ullDone == m_ullPushed; });
    // Dropped pieces count as done: the next run starts from an empty ring.
    m_ullDone = m_ullPushed;
    m_fnPiece = nullptr;
    return !m_bFailed;
}

void CRQBlockWriter::WriterMain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bQuit || (m_ullPushed > m_ullDone && !m_bFailed); });
        if (m_bQuit) {
            return;
        }
        const size_t nAt = static_cast<size_t>(m_ullDone % RING_BYTES);
        const size_t n = std::min({static_cast<size_t>(m_ullPushed - m_ullDone),
                                   static_cast<size_t>(RING_BYTES) - nAt, static_cast<size_t>(STEP_BYTES)});
        const PieceFn& fnPiece = m_fnPiece;
        lock.unlock();
        const bool bOk = fnPiece(m_pRing.get() + nAt, n);
        lock.lock();
        m_ullDone += n;
        m_bFailed = m_bFailed || !bOk;
        m_cvRoom.notify_all();
    }
}
