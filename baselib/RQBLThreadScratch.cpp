#include "baselib/RQBLThreadScratch.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct CScratch {
    uint8_t* pData = nullptr;
    size_t nBytes = 0;
};

void FreeScratch(void* pValue) {
    // winpthreads calls a key's destructor at a thread's end also when the
    // thread's value is null (after Release, say), which POSIX does not.
    auto* pScratch = static_cast<CScratch*>(pValue);
    if (pScratch == nullptr) {
        return;
    }
    std::free(pScratch->pData);
    delete pScratch;
}

static_assert(sizeof(pthread_key_t) <= sizeof(unsigned long), "the key is kept in an unsigned long");

}  // namespace

CRQBLThreadScratch::CRQBLThreadScratch() {
    pthread_key_t key{};
    m_bKey = pthread_key_create(&key, &FreeScratch) == 0;
    m_key = static_cast<unsigned long>(key);
}

CRQBLThreadScratch& CRQBLThreadScratch::Make() {
    return *new CRQBLThreadScratch();
}

uint8_t* CRQBLThreadScratch::Get(size_t nBytes) {
    if (!m_bKey) {
        return nullptr;
    }
    const auto key = static_cast<pthread_key_t>(m_key);
    auto* pScratch = static_cast<CScratch*>(pthread_getspecific(key));
    if (pScratch == nullptr) {
        pScratch = new (std::nothrow) CScratch();
        if (pScratch == nullptr || pthread_setspecific(key, pScratch) != 0) {
            delete pScratch;
            return nullptr;
        }
    }
    if (pScratch->nBytes < nBytes) {
        auto* pGrown = static_cast<uint8_t*>(std::realloc(pScratch->pData, nBytes));
        if (pGrown == nullptr) {
            return nullptr;
        }
        pScratch->pData = pGrown;
        pScratch->nBytes = nBytes;
    }
    return pScratch->pData;
}

size_t CRQBLThreadScratch::Size() const {
    if (!m_bKey) {
        return 0;
    }
    const auto* pScratch =
        static_cast<const CScratch*>(pthread_getspecific(static_cast<pthread_key_t>(m_key)));
    return pScratch != nullptr ? pScratch->nBytes : 0;
}

void CRQBLThreadScratch::Release() {
    if (!m_bKey) {
        return;
    }
    const auto key = static_cast<pthread_key_t>(m_key);
    if (auto* pScratch = static_cast<CScratch*>(pthread_getspecific(key))) {
        pthread_setspecific(key, nullptr);
        FreeScratch(pScratch);
    }
}
