#include "tools/crashreceiver/RQRequestHead.h"

#include <cctype>

namespace {

std::string Trim(const std::string& str) {
    size_t nBegin = str.find_first_not_of(" \t");
    if (nBegin == std::string::npos) {
        return std::string();
    }
    return str.substr(nBegin, str.find_last_not_of(" \t") - nBegin + 1);
}

}  // namespace

std::string CRQRequestHead::Header(const std::string& strName) const {
    for (const auto& header : vecHeaders) {
        if (header.first == strName) {
            return header.second;
        }
    }
    return std::string();
}

bool CRQRequestHead::HasHeader(const std::string& strName) const {
    for (const auto& header : vecHeaders) {
        if (header.first == strName) {
            return true;
        }
    }
    return false;
}

bool ParseRequestHead(const std::string& strHead, CRQRequestHead& head) {
    size_t nLineEnd = strHead.find("\r\n");
    std::string strLine = strHead.substr(0, nLineEnd);
    size_t nFirst = strLine.find(' ');
    size_t nSecond = nFirst == std::string::npos ? std::string::npos : strLine.find(' ', nFirst + 1);
    if (nFirst == 0 || nSecond == std::string::npos || strLine.compare(nSecond + 1, 7, "HTTP/1.") != 0) {
        return false;
    }
    head.strMethod = strLine.substr(0, nFirst);
    head.strTarget = strLine.substr(nFirst + 1, nSecond - nFirst - 1);
    head.vecHeaders.clear();
    size_t nPos = nLineEnd == std::string::npos ? strHead.size() : nLineEnd + 2;
    while (nPos < strHead.size()) {
        size_t nEnd = strHead.find("\r\n", nPos);
        std::string strHeader =
            strHead.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        nPos = nEnd == std::string::npos ? strHead.size() : nEnd + 2;
        size_t nColon = strHeader.find(':');
        if (nColon == std::string::npos || nColon == 0) {
            return false;
        }
        std::string strName = Trim(strHeader.substr(0, nColon));
        for (char& ch : strName) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        head.vecHeaders.emplace_back(strName, Trim(strHeader.substr(nColon + 1)));
    }
    return true;
}
