#include "patch/RQSignedLines.h"

#include "baselib/RQBLHex.h"
#include "patch/RQUtcDate.h"

namespace rqsigned {

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

bool FieldValue(std::string_view strLine, std::string_view strName, std::string_view& strValue) {
    if (strLine.size() < strName.size() + 2 || strLine.substr(0, strName.size()) != strName ||
        strLine.substr(strName.size(), 2) != ": ") {
        return false;
    }
    strValue = strLine.substr(strName.size() + 2);
    return true;
}

bool ParseExactKey(std::string_view strValue, RQ_PUBLIC_KEY& key) {
    constexpr std::string_view kPrefix = "ed25519:";
    return strValue.substr(0, kPrefix.size()) == kPrefix &&
           RQBLFromHex(strValue.substr(kPrefix.size()), key.data(), key.size());
}

bool ParseSignature(std::string_view strValue, RQ_SIGNATURE& signature) {
    return RQBLFromHex(strValue, signature.data(), signature.size());
}

bool ParseDigest(std::string_view strValue, RQ_SHA256& digest) {
    RQ_SHA256 out{};
    if (!RQBLFromHex(strValue, out.data(), out.size()) || RQBLSha256Hex(out) != strValue) {
        return false;
    }
    digest = out;
    return true;
}

bool ParseExpiry(std::string_view strValue, std::string& strDate, int64_t& nUnix) {
    if (strValue == "never") {
        strDate.clear();
        nUnix = 0;
        return true;
    }
    if (!RQParseUtcDate(strValue, nUnix)) {
        return false;
    }
    strDate = std::string(strValue);
    return true;
}

}  // namespace rqsigned
