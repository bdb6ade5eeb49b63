// Reading an upload's multipart/form-data body into its parts.
#pragma once

#include <string>
#include <vector>

struct CRQFormPart {
    std::string strName;
    bool bFile = false;  // the part named a file name
    std::string strFileName;
    std::string strContentType;
    std::string strData;
};

// The boundary of a "multipart/form-data; boundary=..." Content-Type value.
bool BoundaryFromContentType(const std::string& strContentType, std::string& strBoundary);

// The parts in their order. False, with the reason, for a body that is not
// well-formed, holds more than nMaxParts parts, or uses "filename*", whose
// encoded names this receiver does not take.
bool ParseFormData(const std::string& strBody, const std::string& strBoundary, size_t nMaxParts,
                   std::vector<CRQFormPart>& vecParts, std::string& strError);
