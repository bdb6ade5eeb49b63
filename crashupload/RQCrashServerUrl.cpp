#include "crashupload/RQCrashServerUrl.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Lower(std::string str) {
    for (char& ch : str) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return str;
}

bool ParsePort(const std::string& strPort, uint16_t& nPort) {
    if (strPort.empty() || strPort.size() > 5 ||
        strPort.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    long nValue = std::strtol(strPort.c_str(), nullptr, 10);
    if (nValue < 1 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<uint16_t>(nValue);
    return true;
}

}  // namespace

bool ParseCrashServerUrl(const std::string& strUrl, uint16_t nDefaultPort, CRQCrashServer& server) {
    std::string strRest = strUrl;
    size_t nScheme = strRest.find("://");
    if (nScheme != std::string::npos) {
        if (Lower(strRest.substr(0, nScheme)) != "http") {
            return false;
        }
        strRest = strRest.substr(nScheme + 3);
    }
    size_t nSlash = strRest.find('/');
    std::string strAuthority = strRest.substr(0, nSlash);
    server.strPath = nSlash == std::string::npos ? "/" : strRest.substr(nSlash);
    if (strAuthority.find('@') != std::string::npos) {
        return false;  // no credentials in a support address
    }

    std::string strPort;
    if (!strAuthority.empty() && strAuthority[0] == '[') {
        size_t nClose = strAuthority.find(']');
        if (nClose == std::string::npos) {
            return false;
        }
        server.strHost = strAuthority.substr(1, nClose - 1);
        std::string strAfter = strAuthority.substr(nClose + 1);
        if (!strAfter.empty()) {
            if (strAfter[0] != ':') {
                return false;
            }
            strPort = strAfter.substr(1);
            if (strPort.empty()) {
                return false;
            }
        }
    } else {
        size_t nColon = strAuthority.rfind(':');
        server.strHost = strAuthority.substr(0, nColon);
        if (nColon != std::string::npos) {
            strPort = strAuthority.substr(nColon + 1);
            if (strPort.empty()) {
                return false;
            }
        }
    }
    // Blanks and line breaks would end the request line early.
    if (server.strHost.empty() || server.strHost.find_first_of(" \t\r\n") != std::string::npos ||
        server.strPath.find_first_of(" \t\r\n") != std::string::npos) {
        return false;
    }
    if (strPort.empty()) {
        server.nPort = nDefaultPort;
        return nDefaultPort != 0;
    }
    return ParsePort(strPort, server.nPort);
}
