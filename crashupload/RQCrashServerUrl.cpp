#include "crashupload/RQCrashServerUrl.h"

#include "baselib/RQBLAsciiText.h"

bool RQCrashUploadUrl(const std::string& strAddress, uint16_t nDefaultPort, std::string& strUrl) {
    std::string strScheme = "http";
    std::string strRest = strAddress;
    const size_t nScheme = strRest.find("://");
    if (nScheme != std::string::npos) {
        strScheme = RQBLLowerAscii(strRest.substr(0, nScheme));
        if (strScheme != "http" && strScheme != "https") {
            return false;
        }
        strRest = strRest.substr(nScheme + 3);
    }
    const size_t nSlash = strRest.find('/');
    const std::string strAuthority = strRest.substr(0, nSlash);
    const std::string strPath = nSlash == std::string::npos ? "/" : strRest.substr(nSlash);
    if (strAuthority.empty() || strAuthority.find('@') != std::string::npos ||
        strAuthority.find_first_of(" \t\r\n") != std::string::npos ||
        strPath.find_first_of(" \t\r\n") != std::string::npos) {
        return false;
    }
    // The host as the URL writes it (an IPv6 literal keeps its brackets),
    // and the port text after it, if any.
    std::string strHost;
    std::string strPortText;
    bool bHasPort = false;
    if (strAuthority[0] == '[') {
        const size_t nClose = strAuthority.find(']');
        if (nClose == std::string::npos || nClose < 2) {
            return false;
        }
        strHost = strAuthority.substr(0, nClose + 1);
        const std::string strAfter = strAuthority.substr(nClose + 1);
        if (!strAfter.empty()) {
            if (strAfter[0] != ':') {
                return false;
            }
            bHasPort = true;
            strPortText = strAfter.substr(1);
        }
    } else {
        const size_t nColon = strAuthority.rfind(':');
        strHost = strAuthority.substr(0, nColon);
        if (nColon != std::string::npos) {
            bHasPort = true;
            strPortText = strAuthority.substr(nColon + 1);
        }
    }
    uint16_t nPort = nDefaultPort;
    if (strHost.empty() || (bHasPort && !RQBLParsePort(strPortText, nPort)) || nPort == 0) {
        return false;
    }
    strUrl = strScheme + "://" + strHost + ":" + std::to_string(nPort) + strPath;
    return true;
}
