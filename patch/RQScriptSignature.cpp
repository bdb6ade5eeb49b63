#include "patch/RQScriptSignature.h"

#include <vector>

#include "baselib/RQBLHex.h"
#include "patch/RQSignedLines.h"
#include "patch/RQUtcDate.h"

namespace {

constexpr std::string_view kMagicLine = "TOLVANE-SCRIPT-SIGNATURE 1";
constexpr std::string_view kKeyPrefix = "ed25519:";
constexpr std::string_view kNever = "never";

std::string_view Trim(std::string_view strText) {
    const char* pszBlanks = " \t\r\n";
    size_t nStart = strText.find_first_not_of(pszBlanks);
    if (nStart == std::string_view::npos) {
        return std::string_view();
    }
    return strText.substr(nStart, strText.find_last_not_of(pszBlanks) - nStart + 1);
}

// The third and fourth line of the file, which the signature covers.
std::string ReleaseLines(const RQ_SCRIPT_SIGNATURE& sig) {
    return "release: " + std::to_string(sig.ullRelease) +
           "\nexpires: " + (sig.strExpires.empty() ? std::string(kNever) : sig.strExpires) + "\n";
}

}  // namespace

bool RQParseReleaseNumber(std::string_view strText, uint64_t& ullRelease) {
    if (strText.empty() || strText.size() > 20 || (strText.size() > 1 && strText[0] == '0')) {
        return false;
    }
    uint64_t ullOut = 0;
    for (char c : strText) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto nDigit = static_cast<uint64_t>(c - '0');
        if (ullOut > (UINT64_MAX - nDigit) / 10) {
            return false;
        }
        ullOut = ullOut * 10 + nDigit;
    }
    ullRelease = ullOut;
    return true;
}

std::string RQFormatPublicKey(const RQ_PUBLIC_KEY& key) {
    return std::string(kKeyPrefix) + RQBLToHex(key.data(), key.size());
}

bool RQParsePublicKey(std::string_view strText, RQ_PUBLIC_KEY& key) {
    strText = Trim(strText);
    return strText.substr(0, kKeyPrefix.size()) == kKeyPrefix &&
           RQBLFromHex(strText.substr(kKeyPrefix.size()), key.data(), key.size());
}

std::string RQSignedScriptMessage(const std::string& strScript, const RQ_SCRIPT_SIGNATURE& sig) {
    std::string strMessage = std::string(kMagicLine) + "\n" + ReleaseLines(sig) + "\n";
    strMessage.reserve(strMessage.size() + strScript.size());
    strMessage += strScript;
    return strMessage;
}

std::string RQFormatScriptSignature(const RQ_SCRIPT_SIGNATURE& sig) {
    return std::string(kMagicLine) + "\nkey: " + RQFormatPublicKey(sig.key) + "\n" + ReleaseLines(sig) +
           "signature: " + RQBLToHex(sig.signature.data(), sig.signature.size()) + "\n";
}

bool RQParseScriptSignature(const std::string& strFile, RQ_SCRIPT_SIGNATURE& sig) {
    if (strFile.size() > RQ_SCRIPT_SIGNATURE_MAX_BYTES) {
        return false;
    }
    std::vector<std::string_view> vecLines = rqsigned::SplitLines(strFile);
    if (vecLines.size() != 5 || vecLines[0] != kMagicLine) {
        return false;
    }
    RQ_SCRIPT_SIGNATURE out;
    std::string_view strKey;
    std::string_view strRelease;
    std::string_view strExpires;
    std::string_view strSignature;
    if (!rqsigned::FieldValue(vecLines[1], "key", strKey) ||
        !rqsigned::FieldValue(vecLines[2], "release", strRelease) ||
        !rqsigned::FieldValue(vecLines[3], "expires", strExpires) ||
        !rqsigned::FieldValue(vecLines[4], "signature", strSignature)) {
        return false;
    }
    // The key exactly as RQFormatPublicKey writes it, without blanks.
    if (!rqsigned::ParseExactKey(strKey, out.key) || !RQParseReleaseNumber(strRelease, out.ullRelease) ||
        !rqsigned::ParseSignature(strSignature, out.signature) ||
        !rqsigned::ParseExpiry(strExpires, out.strExpires, out.nExpiresUnix)) {
        return false;
    }
    sig = out;
    return true;
}

bool RQSignScript(const std::string& strScript, const RQ_SECRET_KEY& secret, RQ_SCRIPT_SIGNATURE& sig) {
    int64_t nExpires = 0;
    if (!sig.strExpires.empty() && !RQParseUtcDate(sig.strExpires, nExpires)) {
        return false;
    }
    const std::string strMessage = RQSignedScriptMessage(strScript, sig);
    RQ_SCRIPT_SIGNATURE out = sig;
    out.nExpiresUnix = nExpires;
    if (!RQBLEd25519PublicKey(secret, out.key) ||
        !RQBLEd25519Sign(secret, strMessage.data(), strMessage.size(), out.signature)) {
        return false;
    }
    sig = out;
    return true;
}
