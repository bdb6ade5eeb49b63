// Where crash reports go: the support server's address as the program is
// configured with it ("http://host:port/path", "https://host/path", or
// "host:port/path"), made into the URL the upload is sent to. The transport
// cracks that URL like every other it fetches.
#pragma once

#include <cstdint>
#include <string>

// A port in the address wins; nDefaultPort applies when it names none. A
// missing scheme means http. False for any scheme but http and https, an
// empty host, a bad port, credentials (a support address names none), or
// blanks and line breaks (they would end the request line early).
bool RQCrashUploadUrl(const std::string& strAddress, uint16_t nDefaultPort, std::string& strUrl);
