#include "baselib/RQBLCrashReportInfo.h"

#include "baselib/RQBLAsciiText.h"

namespace {

std::string OneLine(std::string strValue) {
    for (char& ch : strValue) {
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
    }
    return strValue;
}

void AddLine(std::string& strText, const char* pszKey, const std::string& strValue) {
    strText += pszKey;
    strText += '=';
    strText += OneLine(strValue);
    strText += "\r\n";
}

}  // namespace

std::string FormatCrashReportInfo(const CRQCrashReportInfo& info) {
    std::string strText;
    AddLine(strText, "product", info.strProduct);
    AddLine(strText, "version", info.strVersion);
    AddLine(strText, "build", info.strBuild);
    AddLine(strText, "server", info.strServerUrl);
    AddLine(strText, "port", std::to_string(info.nServerPort));
    AddLine(strText, "message1", info.strMessage1);
    AddLine(strText, "message2", info.strMessage2);
    AddLine(strText, "capture", info.bScreenCapture ? "1" : "0");
    return strText;
}

bool ParseCrashReportInfo(const std::string& strText, CRQCrashReportInfo& info) {
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = strText.find('\n', nPos);
        std::string strLine =
            strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        nPos = nEnd == std::string::npos ? strText.size() : nEnd + 1;
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.pop_back();
        }
        if (strLine.empty()) {
            continue;
        }
        size_t nEqual = strLine.find('=');
        if (nEqual == std::string::npos) {
            return false;
        }
        std::string strKey = strLine.substr(0, nEqual);
        std::string strValue = strLine.substr(nEqual + 1);
        if (strKey == "product") {
            info.strProduct = strValue;
        } else if (strKey == "version") {
            info.strVersion = strValue;
        } else if (strKey == "build") {
            info.strBuild = strValue;
        } else if (strKey == "server") {
            info.strServerUrl = strValue;
        } else if (strKey == "port") {
            if (!RQBLParsePort(strValue, info.nServerPort)) {
                return false;
            }
        } else if (strKey == "message1") {
            info.strMessage1 = strValue;
        } else if (strKey == "message2") {
            info.strMessage2 = strValue;
        } else if (strKey == "capture") {
            info.bScreenCapture = strValue == "1";
        }
    }
    return true;
}
