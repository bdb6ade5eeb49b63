#include "tools/crashreceiver/RQConnectionSlots.h"

#include <utility>

CRQConnectionSlots::CRQConnectionSlots(size_t nMaxTotal, size_t nMaxPerAddress, std::string strExemptAddress)
    : m_nMaxTotal(nMaxTotal),
      m_nMaxPerAddress(nMaxPerAddress),
      m_strExemptAddress(std::move(strExemptAddress)) {}

ERQSlot CRQConnectionSlots::Take(const std::string& strAddress) {
    std::lock_guard<std::mutex> lock(m_cs);
    // The address's own share is checked first: a greedy address is told that
    // it is the one to wait (429), even while the whole server is also full.
    bool bLimited = strAddress != m_strExemptAddress;
    auto it = m_mapPerAddress.find(strAddress);
    if (bLimited && it != m_mapPerAddress.end() && it->second >= m_nMaxPerAddress) {
        return ERQSlot::ADDRESS_FULL;
    }
    if (m_nTaken >= m_nMaxTotal) {
        return ERQSlot::SERVER_FULL;
    }
    ++m_nTaken;
    ++m_mapPerAddress[strAddress];
    return ERQSlot::TAKEN;
}

void CRQConnectionSlots::Release(const std::string& strAddress) {
    std::lock_guard<std::mutex> lock(m_cs);
    auto it = m_mapPerAddress.find(strAddress);
    if (it != m_mapPerAddress.end() && --it->second == 0) {
        m_mapPerAddress.erase(it);
    }
    --m_nTaken;
    m_cvReleased.notify_all();
}

void CRQConnectionSlots::WaitUntilNoneTaken() {
    std::unique_lock<std::mutex> lock(m_cs);
    m_cvReleased.wait(lock, [this] { return m_nTaken == 0; });
}
