// Where crash reports go: the support server's URL as the program configures
// it ("http://host:port/path", or "host:port/path"), split for a connection.
#pragma once

#include <cstdint>
#include <string>

struct CRQCrashServer {
    std::string strHost;  // without the brackets of an IPv6 literal
    uint16_t nPort = 80;
    std::string strPath;  // starts with "/"
};

// A port in the URL wins; nDefaultPort applies when the URL names none. False
// for any scheme but http (reports are sent in the clear, as the configured
// URL asks), an empty host or a bad port.
bool ParseCrashServerUrl(const std::string& strUrl, uint16_t nDefaultPort, CRQCrashServer& server);
