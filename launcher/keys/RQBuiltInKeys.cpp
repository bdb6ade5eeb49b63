#include "launcher/keys/RQBuiltInKeys.h"

#include <string_view>

#include "patch/RQScriptTrust.h"

#ifndef RQ_TRUSTED_KEYS_TEXT
#error "RQ_TRUSTED_KEYS_TEXT is given by rq_add_trusted_keys (cmake/TrustedKeys.cmake)"
#endif

namespace {

constexpr bool IsKey(std::string_view strItem) {
    constexpr std::string_view kPrefix = "ed25519:";
    if (strItem.size() != kPrefix.size() + 64 || strItem.substr(0, kPrefix.size()) != kPrefix) {
        return false;
    }
    for (char c : strItem.substr(kPrefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// The build passes the keys separated by blanks. Checked while compiling: a
// list that does not parse would otherwise leave the launcher with fewer keys
// than intended, or none, and so taking unsigned scripts.
constexpr bool IsKeyList(std::string_view strText) {
    for (size_t nStart = strText.find_first_not_of(' '); nStart != std::string_view::npos;
         nStart = strText.find_first_not_of(' ', nStart)) {
        const size_t nEnd = strText.find(' ', nStart);
        if (!IsKey(strText.substr(
                nStart, nEnd == std::string_view::npos ? strText.size() - nStart : nEnd - nStart))) {
            return false;
        }
        if (nEnd == std::string_view::npos) {
            break;
        }
        nStart = nEnd;
    }
    return true;
}

static_assert(IsKeyList(RQ_TRUSTED_KEYS_TEXT), "RQ_TRUSTED_KEYS holds an item that is not a key");

}  // namespace

std::vector<RQ_PUBLIC_KEY> RQBuiltInTrustedKeys() {
    std::vector<RQ_PUBLIC_KEY> vecKeys;
    RQParseTrustedKeys(RQ_TRUSTED_KEYS_TEXT, vecKeys);  // cannot fail: checked above
    return vecKeys;
}
