// What the crashed program tells the consent and upload step, which runs in a
// fresh process: the program's name and version, the support server, the
// dialog's messages and whether a screen capture is wanted. Kept as UTF-8
// "key=value" lines in the report folder.
#pragma once

#include <cstdint>
#include <string>

struct CRQCrashReportInfo {
    std::string strProduct;
    std::string strVersion;
    std::string strBuild;
    std::string strServerUrl;
    // Used when the URL names no port.
    uint16_t nServerPort = 80;
    std::string strMessage1;
    std::string strMessage2;
    bool bScreenCapture = false;
};

// Line breaks inside a value become spaces.
std::string FormatCrashReportInfo(const CRQCrashReportInfo& info);

// Unknown keys are skipped, so that older and newer programs read each
// other's reports. False for a line without "=" or a port outside 1..65535.
bool ParseCrashReportInfo(const std::string& strText, CRQCrashReportInfo& info);
