// Who holds the receiver's connections: at most so many in all and so many
// from one address, so that one address (slow on purpose or not) can never
// hold what the others need.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

enum class ERQSlot {
    TAKEN,         // the connection may be served; Release it when done
    ADDRESS_FULL,  // that address already holds its share
    SERVER_FULL,   // every connection is in use
};

class CRQConnectionSlots {
public:
    // strExemptAddress (a reverse proxy that speaks for many players, which
    // limits them itself) counts towards nMaxTotal only.
    CRQConnectionSlots(size_t nMaxTotal, size_t nMaxPerAddress, std::string strExemptAddress);

    ERQSlot Take(const std::string& strAddress);
    void Release(const std::string& strAddress);

    // Returns once every taken slot is released.
    void WaitUntilNoneTaken();

private:
    const size_t m_nMaxTotal;
    const size_t m_nMaxPerAddress;
    const std::string m_strExemptAddress;
    std::mutex m_cs;
    std::condition_variable m_cvReleased;
    size_t m_nTaken = 0;
    std::map<std::string, size_t> m_mapPerAddress;  // only addresses that hold one
};
