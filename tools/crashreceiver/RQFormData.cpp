#include "tools/crashreceiver/RQFormData.h"

#include "baselib/RQBLAsciiText.h"

#include <cctype>
#include <utility>

namespace {

// "form-data; name=\"a\"; filename=\"b\"" into its parameters (names lower-cased).
// As browsers send them, a quoted value ends at the next quote and a backslash
// in it is a backslash (a Windows path stays recognisable as one).
bool ReadParameters(const std::string& strValue,
                    std::vector<std::pair<std::string, std::string>>& vecParams) {
    size_t nPos = strValue.find(';');
    while (nPos != std::string::npos && nPos < strValue.size()) {
        ++nPos;
        size_t nEqual = strValue.find('=', nPos);
        if (nEqual == std::string::npos) {
            return RQBLTrimAscii(strValue.substr(nPos)).empty();
        }
        std::string strName = RQBLLowerAscii(RQBLTrimAscii(strValue.substr(nPos, nEqual - nPos)));
        nPos = nEqual + 1;
        while (nPos < strValue.size() && strValue[nPos] == ' ') {
            ++nPos;
        }
        std::string strParam;
        if (nPos < strValue.size() && strValue[nPos] == '"') {
            size_t nClose = strValue.find('"', nPos + 1);
            if (nClose == std::string::npos) {
                return false;
            }
            strParam = strValue.substr(nPos + 1, nClose - nPos - 1);
            nPos = strValue.find(';', nClose + 1);
        } else {
            size_t nEnd = strValue.find(';', nPos);
            strParam = RQBLTrimAscii(
                strValue.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos));
            nPos = nEnd;
        }
        vecParams.emplace_back(strName, strParam);
    }
    return true;
}

bool ReadPartHeaders(const std::string& strHeaders, CRQFormPart& part, std::string& strError) {
    bool bDisposition = false;
    size_t nPos = 0;
    while (nPos < strHeaders.size()) {
        size_t nEnd = strHeaders.find("\r\n", nPos);
        std::string strLine =
            strHeaders.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        nPos = nEnd == std::string::npos ? strHeaders.size() : nEnd + 2;
        size_t nColon = strLine.find(':');
        if (nColon == std::string::npos) {
            strError = "malformed part header";
            return false;
        }
        std::string strName = RQBLLowerAscii(RQBLTrimAscii(strLine.substr(0, nColon)));
        std::string strValue = RQBLTrimAscii(strLine.substr(nColon + 1));
        if (strName == "content-type") {
            part.strContentType = strValue;
        } else if (strName == "content-disposition") {
            if (RQBLLowerAscii(strValue.substr(0, strValue.find(';'))) != "form-data") {
                strError = "part is not form-data";
                return false;
            }
            std::vector<std::pair<std::string, std::string>> vecParams;
            if (!ReadParameters(strValue, vecParams)) {
                strError = "malformed Content-Disposition";
                return false;
            }
            bool bName = false;
            for (const auto& param : vecParams) {
                if (param.first == "name") {
                    part.strName = param.second;
                    bName = true;
                } else if (param.first == "filename") {
                    part.strFileName = param.second;
                    part.bFile = true;
                } else if (param.first == "filename*") {
                    strError = "encoded file names (filename*) are not accepted";
                    return false;
                }
            }
            if (!bName) {
                strError = "part without a name";
                return false;
            }
            bDisposition = true;
        }
    }
    if (!bDisposition) {
        strError = "part without Content-Disposition";
    }
    return bDisposition;
}

}  // namespace

bool BoundaryFromContentType(const std::string& strContentType, std::string& strBoundary) {
    if (RQBLLowerAscii(RQBLTrimAscii(strContentType.substr(0, strContentType.find(';')))) !=
        "multipart/form-data") {
        return false;
    }
    std::vector<std::pair<std::string, std::string>> vecParams;
    if (!ReadParameters(strContentType, vecParams)) {
        return false;
    }
    for (const auto& param : vecParams) {
        if (param.first == "boundary" && !param.second.empty() && param.second.size() <= 70) {
            strBoundary = param.second;
            return true;
        }
    }
    return false;
}

bool ParseFormData(const std::string& strBody, const std::string& strBoundary, size_t nMaxParts,
                   std::vector<CRQFormPart>& vecParts, std::string& strError) {
    const std::string strDelimiter = "--" + strBoundary;
    const std::string strNextDelimiter = "\r\n" + strDelimiter;
    // The first delimiter starts the body or a line after a preamble.
    size_t nPos =
        strBody.compare(0, strDelimiter.size(), strDelimiter) == 0 ? 0 : strBody.find(strNextDelimiter);
    if (nPos == std::string::npos) {
        strError = "no boundary in the body";
        return false;
    }
    nPos += nPos == 0 ? strDelimiter.size() : strNextDelimiter.size();
    for (;;) {
        if (strBody.compare(nPos, 2, "--") == 0) {
            return true;  // the closing delimiter; an epilogue may follow
        }
        while (nPos < strBody.size() && (strBody[nPos] == ' ' || strBody[nPos] == '\t')) {
            ++nPos;
        }
        if (strBody.compare(nPos, 2, "\r\n") != 0) {
            strError = "malformed boundary line";
            return false;
        }
        nPos += 2;
        if (vecParts.size() == nMaxParts) {
            strError = "too many parts";
            return false;
        }
        if (strBody.compare(nPos, 2, "\r\n") == 0) {
            strError = "part without Content-Disposition";
            return false;
        }
        size_t nHeadEnd = strBody.find("\r\n\r\n", nPos);
        if (nHeadEnd == std::string::npos) {
            strError = "part headers do not end";
            return false;
        }
        CRQFormPart part;
        if (!ReadPartHeaders(strBody.substr(nPos, nHeadEnd - nPos), part, strError)) {
            return false;
        }
        size_t nData = nHeadEnd + 4;
        size_t nDataEnd = strBody.find(strNextDelimiter, nData);
        if (nDataEnd == std::string::npos) {
            strError = "part does not end";
            return false;
        }
        part.strData = strBody.substr(nData, nDataEnd - nData);
        vecParts.push_back(std::move(part));
        nPos = nDataEnd + strNextDelimiter.size();
    }
}
