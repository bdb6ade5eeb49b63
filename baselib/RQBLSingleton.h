// The base library's scheme for process-wide objects: an instance pointer and
// an optional access lock, both created on demand and destroyed explicitly.
//   class CRQBLCrc32 : public CRQBLSingleton<CRQBLCrc32> { ... };
#pragma once

#include <mutex>

template <typename T>
class CRQBLSingleton {
public:
    // Constructs the object on the first call only. A later call with
    // bCreateLock true adds an access lock if there is none yet.
    static T* CreateInstance(bool bCreateLock) {
        if (bCreateLock && s_pLock == nullptr) {
            s_pLock = new std::recursive_mutex;
        }
        LockGuard guard;
        if (s_pInstance == nullptr) {
            s_pInstance = new T;
        }
        return s_pInstance;
    }

    static T* GetInstance() {
        LockGuard guard;
        return s_pInstance;
    }

    static void DestroyInstance() {
        std::recursive_mutex* pLock = s_pLock;
        if (pLock != nullptr) {
            pLock->lock();
        }
        delete s_pInstance;
        s_pInstance = nullptr;
        if (pLock != nullptr) {
            pLock->unlock();
            delete pLock;
            s_pLock = nullptr;
        }
    }

protected:
    CRQBLSingleton() = default;
    ~CRQBLSingleton() = default;

private:
    struct LockGuard {
        LockGuard() : m_pLock(s_pLock) {
            if (m_pLock != nullptr) {
                m_pLock->lock();
            }
        }
        ~LockGuard() {
            if (m_pLock != nullptr) {
                m_pLock->unlock();
            }
        }
        LockGuard(const LockGuard&) = delete;
        LockGuard& operator=(const LockGuard&) = delete;
        std::recursive_mutex* m_pLock;
    };

    static inline T* s_pInstance = nullptr;
    static inline std::recursive_mutex* s_pLock = nullptr;
};
