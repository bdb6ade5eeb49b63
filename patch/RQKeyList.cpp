#include "patch/RQKeyList.h"

#include <algorithm>
#include <string_view>

#include "baselib/RQBLHex.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSignedLines.h"
#include "patch/RQUtcDate.h"

namespace {

constexpr std::string_view kMagicLine = "TOLVANE-KEY-LIST 1";
constexpr std::string_view kExpiresWord = " expires ";

const char* RoleField(RQKeyRole role) {
    return role == RQKeyRole::RELEASE ? "release-key" : "timestamp-key";
}

// "ed25519:<hex> expires YYYY-MM-DD"
bool ParseListedKey(std::string_view strValue, RQKeyRole role, RQ_LISTED_KEY& out) {
    const size_t nWord = strValue.find(kExpiresWord);
    if (nWord == std::string_view::npos || !rqsigned::ParseExactKey(strValue.substr(0, nWord), out.key)) {
        return false;
    }
    const std::string_view strDate = strValue.substr(nWord + kExpiresWord.size());
    if (!RQParseUtcDate(strDate, out.nExpiresUnix)) {
        return false;
    }
    out.strExpires = std::string(strDate);
    out.role = role;
    return true;
}

bool Contains(const std::vector<RQ_PUBLIC_KEY>& vecKeys, const RQ_PUBLIC_KEY& key) {
    return std::find(vecKeys.begin(), vecKeys.end(), key) != vecKeys.end();
}

// Reads the body lines from nLine on; nLine ends at the first line that is
// not the body's (or at the end). False at the first wrong line.
bool ParseBody(const std::vector<std::string_view>& vecLines, size_t& nLine, RQ_KEY_LIST& out) {
    std::string_view strValue;
    if (vecLines.empty() || vecLines[0] != kMagicLine) {
        nLine = 0;
        return false;
    }
    nLine = 1;
    if (nLine >= vecLines.size() || !rqsigned::FieldValue(vecLines[nLine], "version", strValue) ||
        !RQParseReleaseNumber(strValue, out.ullVersion) || out.ullVersion == 0) {
        return false;
    }
    ++nLine;
    if (nLine >= vecLines.size() || !rqsigned::FieldValue(vecLines[nLine], "release-step", strValue) ||
        !RQParseReleaseNumber(strValue, out.ullReleaseStep) || out.ullReleaseStep == 0) {
        return false;
    }
    ++nLine;
    std::vector<RQ_PUBLIC_KEY> vecSeen;
    for (RQKeyRole role : {RQKeyRole::RELEASE, RQKeyRole::TIMESTAMP}) {
        while (nLine < vecLines.size() && rqsigned::FieldValue(vecLines[nLine], RoleField(role), strValue)) {
            RQ_LISTED_KEY listed;
            if (!ParseListedKey(strValue, role, listed) || Contains(vecSeen, listed.key) ||
                vecSeen.size() >= RQ_KEY_LIST_MAX_KEYS) {
                return false;
            }
            vecSeen.push_back(listed.key);
            out.vecKeys.push_back(listed);
            ++nLine;
        }
        if (role == RQKeyRole::RELEASE && out.vecKeys.empty()) {
            return false;  // a list that lets nobody sign a release
        }
    }
    while (nLine < vecLines.size() && rqsigned::FieldValue(vecLines[nLine], "revoked", strValue)) {
        RQ_PUBLIC_KEY key{};
        if (!rqsigned::ParseExactKey(strValue, key) || Contains(vecSeen, key) ||
            out.vecRevoked.size() >= RQ_KEY_LIST_MAX_KEYS) {
            return false;
        }
        vecSeen.push_back(key);
        out.vecRevoked.push_back(key);
        ++nLine;
    }
    return true;
}

}  // namespace

std::string RQKeyListBody(const RQ_KEY_LIST& list) {
    std::string strText = std::string(kMagicLine) + "\nversion: " + std::to_string(list.ullVersion) +
                          "\nrelease-step: " + std::to_string(list.ullReleaseStep) + "\n";
    for (const RQ_LISTED_KEY& listed : list.vecKeys) {
        strText += std::string(RoleField(listed.role)) + ": " + RQFormatPublicKey(listed.key) +
                   std::string(kExpiresWord) + listed.strExpires + "\n";
    }
    for (const RQ_PUBLIC_KEY& key : list.vecRevoked) {
        strText += "revoked: " + RQFormatPublicKey(key) + "\n";
    }
    return strText;
}

std::string RQFormatKeyList(const RQ_KEY_LIST& list) {
    return RQKeyListBody(list) + "root: " + RQFormatPublicKey(list.root) +
           "\nsignature: " + RQBLToHex(list.signature.data(), list.signature.size()) + "\n";
}

bool RQParseKeyList(const std::string& strFile, bool bSigned, RQ_KEY_LIST& list, size_t* pnBadLine) {
    const std::vector<std::string_view> vecLines =
        rqsigned::SplitLines(strFile.size() > RQ_KEY_LIST_MAX_BYTES ? std::string_view() : strFile);
    RQ_KEY_LIST out;
    size_t nLine = 0;
    bool bOk = ParseBody(vecLines, nLine, out);
    if (bOk && bSigned) {
        std::string_view strValue;
        bOk = nLine + 2 == vecLines.size() && rqsigned::FieldValue(vecLines[nLine], "root", strValue) &&
              rqsigned::ParseExactKey(strValue, out.root);
        nLine += bOk ? 1 : 0;
        bOk = bOk && rqsigned::FieldValue(vecLines[nLine], "signature", strValue) &&
              rqsigned::ParseSignature(strValue, out.signature);
    } else if (bOk) {
        bOk = nLine == vecLines.size();
    }
    if (!bOk) {
        if (pnBadLine != nullptr) {
            *pnBadLine = nLine + 1;
        }
        return false;
    }
    list = out;
    return true;
}

bool RQSignKeyList(RQ_KEY_LIST& list, const RQ_SECRET_KEY& rootSecret) {
    const std::string strBody = RQKeyListBody(list);
    RQ_KEY_LIST out = list;
    if (!RQBLEd25519PublicKey(rootSecret, out.root) ||
        !RQBLEd25519Sign(rootSecret, strBody.data(), strBody.size(), out.signature)) {
        return false;
    }
    list = out;
    return true;
}

bool RQVerifyKeyList(const RQ_KEY_LIST& list) {
    const std::string strBody = RQKeyListBody(list);
    return RQBLEd25519Verify(list.root, strBody.data(), strBody.size(), list.signature);
}

const RQ_LISTED_KEY* RQFindListedKey(const RQ_KEY_LIST& list, const RQ_PUBLIC_KEY& key, RQKeyRole role) {
    for (const RQ_LISTED_KEY& listed : list.vecKeys) {
        if (listed.key == key && (listed.role == role || listed.role == RQKeyRole::RELEASE)) {
            return &listed;
        }
    }
    return nullptr;
}

bool RQIsRevoked(const RQ_KEY_LIST& list, const RQ_PUBLIC_KEY& key) {
    return Contains(list.vecRevoked, key);
}
