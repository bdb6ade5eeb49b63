#include "patch/RQReleaseState.h"

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLMappedFile.h"
#include "patch/RQScriptSignature.h"

namespace {

constexpr char kPrefix[] = "TOLVANE-RELEASE ";
// The prefix, at most 20 digits and the line end.
constexpr size_t kMaxFileBytes = sizeof(kPrefix) - 1 + 20 + 1;

bool ParseState(const std::string& strText, uint64_t& ullRelease) {
    const std::string_view strPrefix = kPrefix;
    return strText.size() > strPrefix.size() && strText.compare(0, strPrefix.size(), strPrefix) == 0 &&
           strText.back() == '\n' &&
           RQParseReleaseNumber(
               std::string_view(strText).substr(strPrefix.size(), strText.size() - strPrefix.size() - 1),
               ullRelease);
}

}  // namespace

uint64_t RQLoadHighestRelease(const std::wstring& strPath) {
    std::string strText;
    bool bTooLarge = false;
    auto collect = [&](const uint8_t* pData, size_t nBytes) {
        if (strText.size() + nBytes > kMaxFileBytes) {
            bTooLarge = true;
            return;
        }
        strText.append(reinterpret_cast<const char*>(pData), nBytes);
    };
    uint64_t ullRelease = 0;
    if (rqbl::WalkMappedFile(strPath.c_str(), 64 * 1024, collect) != rqbl::MappedWalk::COMPLETE ||
        bTooLarge || !ParseState(strText, ullRelease)) {
        return 0;
    }
    return ullRelease;
}

bool RQSaveHighestRelease(const std::wstring& strPath, uint64_t ullRelease) {
    return rqbl::WriteFileAtomically(strPath, kPrefix + std::to_string(ullRelease) + "\n");
}
