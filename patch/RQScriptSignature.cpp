#include "patch/RQScriptSignature.h"

#include <vector>

#include "baselib/RQBLHex.h"
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

std::vector<std::string_view> SplitLines(std::string_view strText) {
    std::vector<std::string_view> vecLines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = strText.size();
        }
        std::string_view strLine = strText.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.remove_suffix(1);
        }
        vecLines.push_back(strLine);
        nStart = nEnd + 1;
    }
    return vecLines;
}

// The value of "name: value", or false when the line is another field.
bool FieldValue(std::string_view strLine, std::string_view strName, std::string_view& strValue) {
    if (strLine.size() < strName.size() + 2 || strLine.substr(0, strName.size()) != strName ||
        strLine.substr(strName.size(), 2) != ": ") {
        return false;
    }
    strValue = strLine.substr(strName.size() + 2);
    return true;
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
    std::vector<std::string_view> vecLines = SplitLines(strFile);
    if (vecLines.size() != 5 || vecLines[0] != kMagicLine) {
        return false;
    }
    RQ_SCRIPT_SIGNATURE out;
    std::string_view strKey;
    std::string_view strRelease;
    std::string_view strExpires;
    std::string_view strSignature;
    if (!FieldValue(vecLines[1], "key", strKey) || !FieldValue(vecLines[2], "release", strRelease) ||
        !FieldValue(vecLines[3], "expires", strExpires) ||
        !FieldValue(vecLines[4], "signature", strSignature)) {
        return false;
    }
    // The key exactly as RQFormatPublicKey writes it, without blanks.
    if (strKey.substr(0, kKeyPrefix.size()) != kKeyPrefix ||
        !RQBLFromHex(strKey.substr(kKeyPrefix.size()), out.key.data(), out.key.size()) ||
        !RQParseReleaseNumber(strRelease, out.ullRelease) ||
        !RQBLFromHex(strSignature, out.signature.data(), out.signature.size())) {
        return false;
    }
    if (strExpires != kNever) {
        if (!RQParseUtcDate(strExpires, out.nExpiresUnix)) {
            return false;
        }
        out.strExpires = std::string(strExpires);
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
