#include "patch/RQTimestamp.h"

#include <string_view>
#include <vector>

#include "baselib/RQBLHex.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSignedLines.h"
#include "patch/RQUtcDate.h"

namespace {

constexpr std::string_view kMagicLine = "TOLVANE-TIMESTAMP 1";

// The lines from "expires:" to "key-list:".
std::string SignedFields(const RQ_TIMESTAMP& stamp) {
    return "expires: " + stamp.strExpires + "\nrelease: " + std::to_string(stamp.ullRelease) +
           "\nscript: " + RQBLSha256Hex(stamp.script) +
           "\nscript-signature: " + RQBLSha256Hex(stamp.scriptSignature) +
           "\nkey-list: " + RQBLSha256Hex(stamp.keyList) + "\n";
}

}  // namespace

std::string RQTimestampMessage(const RQ_TIMESTAMP& stamp) {
    return std::string(kMagicLine) + "\n" + SignedFields(stamp);
}

std::string RQFormatTimestamp(const RQ_TIMESTAMP& stamp) {
    return std::string(kMagicLine) + "\nkey: " + RQFormatPublicKey(stamp.key) + "\n" + SignedFields(stamp) +
           "signature: " + RQBLToHex(stamp.signature.data(), stamp.signature.size()) + "\n";
}

bool RQParseTimestamp(const std::string& strFile, RQ_TIMESTAMP& stamp) {
    if (strFile.size() > RQ_TIMESTAMP_MAX_BYTES) {
        return false;
    }
    const std::vector<std::string_view> vecLines = rqsigned::SplitLines(strFile);
    if (vecLines.size() != 8 || vecLines[0] != kMagicLine) {
        return false;
    }
    std::string_view v[7];
    const char* const kNames[7] = {"key",      "expires",  "release", "script", "script-signature",
                                   "key-list", "signature"};
    for (size_t i = 0; i < 7; ++i) {
        if (!rqsigned::FieldValue(vecLines[i + 1], kNames[i], v[i])) {
            return false;
        }
    }
    RQ_TIMESTAMP out;
    if (!rqsigned::ParseExactKey(v[0], out.key) || !RQParseUtcDate(v[1], out.nExpiresUnix) ||
        !RQParseReleaseNumber(v[2], out.ullRelease) || !rqsigned::ParseDigest(v[3], out.script) ||
        !rqsigned::ParseDigest(v[4], out.scriptSignature) || !rqsigned::ParseDigest(v[5], out.keyList) ||
        !rqsigned::ParseSignature(v[6], out.signature)) {
        return false;
    }
    out.strExpires = std::string(v[1]);
    stamp = out;
    return true;
}

bool RQSignTimestamp(RQ_TIMESTAMP& stamp, const RQ_SECRET_KEY& secret) {
    RQ_TIMESTAMP out = stamp;
    if (!RQParseUtcDate(out.strExpires, out.nExpiresUnix) || !RQBLEd25519PublicKey(secret, out.key)) {
        return false;
    }
    const std::string strMessage = RQTimestampMessage(out);
    if (!RQBLEd25519Sign(secret, strMessage.data(), strMessage.size(), out.signature)) {
        return false;
    }
    stamp = out;
    return true;
}

bool RQVerifyTimestamp(const RQ_TIMESTAMP& stamp) {
    const std::string strMessage = RQTimestampMessage(stamp);
    return RQBLEd25519Verify(stamp.key, strMessage.data(), strMessage.size(), stamp.signature);
}
