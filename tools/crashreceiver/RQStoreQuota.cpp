#include "tools/crashreceiver/RQStoreQuota.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBlockBytes = 4096;

std::string Mib(uint64_t nBytes) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), "%.1f MiB", static_cast<double>(nBytes) / (1024.0 * 1024.0));
    return sz;
}

// Everything under the folder, whatever made it: reports, the ".incoming-"
// folders of writes under way or cut short by a crash, files the operator
// left there. Entries that vanish while being counted (the operator deleting
// reports) are skipped.
uint64_t MeasureFolder(const fs::path& pathRoot) {
    uint64_t nBytes = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(pathRoot, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ecEntry;
        uint64_t nFileBytes = 0;
        if (it->is_regular_file(ecEntry) && !it->is_symlink(ecEntry)) {
            nFileBytes = it->file_size(ecEntry);
            if (ecEntry) {
                nFileBytes = 0;
            }
        }
        nBytes += DiskBytesOf(nFileBytes);
    }
    return nBytes;
}

}  // namespace

uint64_t DiskBytesOf(uint64_t nFileBytes) {
    return nFileBytes == 0 ? kBlockBytes : (nFileBytes + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
}

CRQStoreQuota::CRQStoreQuota(fs::path pathRoot, const CRQStoreLimits& limits)
    : m_pathRoot(std::move(pathRoot)), m_limits(limits) {}

void CRQStoreQuota::Measure() {
    uint64_t nBytes = MeasureFolder(m_pathRoot);
    std::lock_guard<std::mutex> lock(m_cs);
    m_nStoreBytes = nBytes;
}

std::string CRQStoreQuota::CheckLocked(uint64_t nBytes) {
    if (m_nStoreBytes + m_nReservedBytes + nBytes > m_limits.nMaxStoreBytes) {
        // The figure kept only grows; the operator may have deleted reports
        // since. Measured again only here, so a store far from full is not
        // walked on every upload. Reports being written count twice while
        // their files grow: the error is on the side of refusing.
        m_nStoreBytes = MeasureFolder(m_pathRoot);
        if (m_nStoreBytes + m_nReservedBytes + nBytes > m_limits.nMaxStoreBytes) {
            return "store full: " + Mib(m_nStoreBytes + m_nReservedBytes) + " of " +
                   Mib(m_limits.nMaxStoreBytes) + " taken (--max-store-mib), " + Mib(nBytes) +
                   " more refused";
        }
    }
    std::error_code ec;
    fs::space_info space = fs::space(m_pathRoot, ec);
    if (ec) {
        return "free space unknown (" + ec.message() + ")";
    }
    // What is reserved is not written yet, so the file system still counts it
    // as free.
    uint64_t nNeeded = m_nReservedBytes + nBytes + m_limits.nMinFreeBytes;
    if (space.available < nNeeded) {
        return "disk low: " + Mib(space.available) + " free, " + Mib(m_limits.nMinFreeBytes) +
               " kept free (--min-free-mib), " + Mib(nBytes) + " more refused";
    }
    return std::string();
}

std::string CRQStoreQuota::Reserve(uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_cs);
    std::string strWhyNot = CheckLocked(nBytes);
    if (strWhyNot.empty()) {
        m_nReservedBytes += nBytes;
    }
    return strWhyNot;
}

void CRQStoreQuota::Release(uint64_t nBytes, bool bWritten) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_nReservedBytes -= nBytes;
    if (bWritten) {
        m_nStoreBytes += nBytes;
    }
}

std::string CRQStoreQuota::WhyNoRoomFor(uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_cs);
    return CheckLocked(nBytes);
}
