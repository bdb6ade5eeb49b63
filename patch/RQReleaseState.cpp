#include "patch/RQReleaseState.h"

#include <string_view>
#include <vector>

#include "baselib/RQBLMappedFile.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSignedLines.h"

namespace {

constexpr std::string_view kReleasePrefix = "TOLVANE-RELEASE ";
constexpr std::string_view kKeysPrefix = "TOLVANE-KEYS ";
// Two lines at most: a number and a key.
constexpr size_t kMaxFileBytes = 256;

bool ReadStateFile(const std::wstring& strPath, std::string& strText) {
    bool bTooLarge = false;
    auto collect = [&](const uint8_t* pData, size_t nBytes) {
        if (strText.size() + nBytes > kMaxFileBytes) {
            bTooLarge = true;
            return;
        }
        strText.append(reinterpret_cast<const char*>(pData), nBytes);
    };
    return rqbl::WalkMappedFile(strPath.c_str(), 64 * 1024, collect) == rqbl::MappedWalk::COMPLETE &&
           !bTooLarge && !strText.empty() && strText.back() == '\n';
}

// "PREFIX<number>\n" then, optionally or necessarily, "<field>: ed25519:<hex>\n".
bool ParseState(const std::string& strText, std::string_view strPrefix, std::string_view strField,
                bool bKeyRequired, uint64_t& ullNumber, bool& bHasKey, RQ_PUBLIC_KEY& key) {
    // The reader made sure that the text ends with LF; no CR anywhere.
    std::vector<std::string_view> vecLines = rqsigned::SplitLines(std::string_view(strText));
    if (vecLines.empty() || vecLines.size() > 2 || vecLines[0].substr(0, strPrefix.size()) != strPrefix ||
        strText.find('\r') != std::string::npos) {
        return false;
    }
    uint64_t ullOut = 0;
    if (!RQParseReleaseNumber(vecLines[0].substr(strPrefix.size()), ullOut)) {
        return false;
    }
    RQ_PUBLIC_KEY keyOut{};
    std::string_view strValue;
    const bool bKey = vecLines.size() == 2;
    if ((bKeyRequired && !bKey) || (bKey && (!rqsigned::FieldValue(vecLines[1], strField, strValue) ||
                                             !rqsigned::ParseExactKey(strValue, keyOut)))) {
        return false;
    }
    ullNumber = ullOut;
    bHasKey = bKey;
    key = keyOut;
    return true;
}

std::string FormatState(std::string_view strPrefix, uint64_t ullNumber, std::string_view strField,
                        bool bHasKey, const RQ_PUBLIC_KEY& key) {
    std::string strText = std::string(strPrefix) + std::to_string(ullNumber) + "\n";
    if (bHasKey) {
        strText += std::string(strField) + ": " + RQFormatPublicKey(key) + "\n";
    }
    return strText;
}

rqbl::FileError Write(const std::wstring& strPath, const std::string& strText) {
    rqbl::FileError error = rqbl::FileError::NONE;
    return rqbl::WriteFileAtomically(strPath, strText, &error) ? rqbl::FileError::NONE : error;
}

}  // namespace

RQ_TRUST_STATE RQLoadTrustState(const std::wstring& strReleasePath, const std::wstring& strKeyListPath) {
    RQ_TRUST_STATE state;
    std::string strText;
    if (!ReadStateFile(strReleasePath, strText) ||
        !ParseState(strText, kReleasePrefix, "key", false, state.ullRelease, state.bHasReleaseKey,
                    state.releaseKey)) {
        state.ullRelease = 0;
        state.bHasReleaseKey = false;
        state.releaseKey = RQ_PUBLIC_KEY{};
    }
    strText.clear();
    bool bHasRoot = false;
    if (!ReadStateFile(strKeyListPath, strText) ||
        !ParseState(strText, kKeysPrefix, "root", true, state.ullKeyListVersion, bHasRoot,
                    state.keyListRoot)) {
        state.ullKeyListVersion = 0;
        state.keyListRoot = RQ_PUBLIC_KEY{};
    }
    return state;
}

rqbl::FileError RQSaveTrustState(const std::wstring& strReleasePath, const std::wstring& strKeyListPath,
                                 const RQ_TRUST_STATE& before, const RQ_TRUST_STATE& after,
                                 std::wstring* pFailedPath) {
    rqbl::FileError error = rqbl::FileError::NONE;
    // The key list first: a release accepted under a key list must not be on
    // record without it.
    if (after.ullKeyListVersion != before.ullKeyListVersion || after.keyListRoot != before.keyListRoot) {
        error = Write(strKeyListPath,
                      FormatState(kKeysPrefix, after.ullKeyListVersion, "root", true, after.keyListRoot));
        if (error != rqbl::FileError::NONE && pFailedPath != nullptr) {
            *pFailedPath = strKeyListPath;
        }
    }
    if (error == rqbl::FileError::NONE &&
        (after.ullRelease != before.ullRelease || after.bHasReleaseKey != before.bHasReleaseKey ||
         after.releaseKey != before.releaseKey)) {
        error = Write(strReleasePath, FormatState(kReleasePrefix, after.ullRelease, "key",
                                                  after.bHasReleaseKey, after.releaseKey));
        if (error != rqbl::FileError::NONE && pFailedPath != nullptr) {
            *pFailedPath = strReleasePath;
        }
    }
    return error;
}

uint64_t RQLoadHighestRelease(const std::wstring& strPath) {
    return RQLoadTrustState(strPath, std::wstring()).ullRelease;
}

bool RQSaveHighestRelease(const std::wstring& strPath, uint64_t ullRelease) {
    return Write(strPath, FormatState(kReleasePrefix, ullRelease, "key", false, RQ_PUBLIC_KEY{})) ==
           rqbl::FileError::NONE;
}
