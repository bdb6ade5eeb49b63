// The request line and headers of an HTTP/1.x request.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CRQRequestHead {
    std::string strMethod;
    std::string strTarget;
    std::vector<std::pair<std::string, std::string>> vecHeaders;  // names lower-cased

    // The first header of that (lower-case) name, or empty.
    std::string Header(const std::string& strName) const;
    bool HasHeader(const std::string& strName) const;
};

// strHead: everything before the blank line. False when the request line is
// not "METHOD TARGET HTTP/1.x" or a header line has no colon.
bool ParseRequestHead(const std::string& strHead, CRQRequestHead& head);
