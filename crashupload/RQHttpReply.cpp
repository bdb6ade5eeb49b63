#include "crashupload/RQHttpReply.h"

#include "baselib/RQBLAsciiText.h"

#include <cctype>
#include <cstdlib>

namespace {

bool ParseHex(const std::string& strHex, size_t& nValue) {
    if (strHex.empty() || strHex.size() > 8 ||
        strHex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    nValue = static_cast<size_t>(std::strtoul(strHex.c_str(), nullptr, 16));
    return true;
}

bool Dechunk(const std::string& strRaw, size_t nPos, std::string& strBody) {
    for (;;) {
        size_t nLineEnd = strRaw.find("\r\n", nPos);
        if (nLineEnd == std::string::npos) {
            return false;
        }
        std::string strSize = RQBLTrimAscii(strRaw.substr(nPos, nLineEnd - nPos));
        strSize = strSize.substr(0, strSize.find(';'));  // chunk extensions
        size_t nChunk = 0;
        if (!ParseHex(RQBLTrimAscii(strSize), nChunk)) {
            return false;
        }
        nPos = nLineEnd + 2;
        if (nChunk == 0) {
            return true;  // trailers, if any, are of no interest
        }
        if (strRaw.size() - nPos < nChunk + 2) {
            return false;
        }
        strBody.append(strRaw, nPos, nChunk);
        nPos += nChunk + 2;
    }
}

}  // namespace

bool ParseHttpReply(const std::string& strRaw, CRQHttpReply& reply) {
    size_t nHeadEnd = strRaw.find("\r\n\r\n");
    if (nHeadEnd == std::string::npos || strRaw.compare(0, 5, "HTTP/") != 0) {
        return false;
    }
    size_t nLineEnd = strRaw.find("\r\n");
    std::string strStatusLine = strRaw.substr(0, nLineEnd);
    size_t nSpace = strStatusLine.find(' ');
    if (nSpace == std::string::npos || strStatusLine.size() < nSpace + 4) {
        return false;
    }
    std::string strCode = strStatusLine.substr(nSpace + 1, 3);
    if (strCode.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    reply.nStatus = std::atoi(strCode.c_str());

    bool bChunked = false;
    long long nLength = -1;
    size_t nPos = nLineEnd + 2;
    while (nPos < nHeadEnd) {
        size_t nEnd = strRaw.find("\r\n", nPos);
        std::string strLine = strRaw.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
        size_t nColon = strLine.find(':');
        if (nColon == std::string::npos) {
            continue;
        }
        std::string strName = RQBLLowerAscii(RQBLTrimAscii(strLine.substr(0, nColon)));
        std::string strValue = RQBLTrimAscii(strLine.substr(nColon + 1));
        if (strName == "transfer-encoding") {
            bChunked = RQBLLowerAscii(strValue).find("chunked") != std::string::npos;
        } else if (strName == "content-length") {
            if (strValue.empty() || strValue.find_first_not_of("0123456789") != std::string::npos ||
                strValue.size() > 12) {
                return false;
            }
            nLength = std::atoll(strValue.c_str());
        }
    }

    size_t nBody = nHeadEnd + 4;
    reply.strBody.clear();
    if (bChunked) {
        return Dechunk(strRaw, nBody, reply.strBody);
    }
    if (nLength >= 0) {
        if (strRaw.size() - nBody < static_cast<size_t>(nLength)) {
            return false;
        }
        reply.strBody = strRaw.substr(nBody, static_cast<size_t>(nLength));
        return true;
    }
    reply.strBody = strRaw.substr(nBody);
    return true;
}

std::string ReportIdFromBody(const std::string& strBody) {
    std::string strId = RQBLTrimAscii(strBody.substr(0, strBody.find('\n')));
    const std::string strPrefix = "CrashID=";
    if (strId.compare(0, strPrefix.size(), strPrefix) == 0) {
        strId = strId.substr(strPrefix.size());
    }
    if (strId.empty() || strId.size() > 64) {
        return std::string();
    }
    for (char ch : strId) {
        if (ch <= ' ' || ch > '~') {
            return std::string();
        }
    }
    return strId;
}

ERQUploadOutcome ClassifyUploadStatus(int nStatus) {
    if (nStatus >= 200 && nStatus < 300) {
        return ERQUploadOutcome::SENT;
    }
    // Only the refusals that are about the report itself are final; a wrong
    // address or a missing permission is the server's to fix.
    if (nStatus == 400 || nStatus == 413 || nStatus == 415 || nStatus == 422) {
        return ERQUploadOutcome::REFUSED;
    }
    return ERQUploadOutcome::RETRY;
}
