#include "crashupload/RQMultipartBody.h"

#include <utility>

namespace {

// Names go inside double quotes in a header line: a quote or a line break
// there would end the header early, so they are replaced as browsers do.
std::string QuotedValue(const std::string& strValue) {
    std::string strOut;
    for (char ch : strValue) {
        if (ch == '"') {
            strOut += "%22";
        } else if (ch == '\r' || ch == '\n') {
            strOut += ' ';
        } else {
            strOut += ch;
        }
    }
    return strOut;
}

}  // namespace

void CRQMultipartBody::AddField(const std::string& strName, const std::string& strValue) {
    m_vecParts.push_back(Part{strName, std::string(), false, std::string(), strValue});
}

void CRQMultipartBody::AddFile(const std::string& strName, const std::string& strFileName,
                               const std::string& strContentType, std::string strBytes) {
    m_vecParts.push_back(Part{strName, strFileName, true, strContentType, std::move(strBytes)});
}

bool CRQMultipartBody::BoundaryFits(const std::string& strBoundary) const {
    for (const Part& part : m_vecParts) {
        if (part.strBytes.find(strBoundary) != std::string::npos) {
            return false;
        }
    }
    return true;
}

void CRQMultipartBody::Finish() {
    m_strBoundary = "RQCrashReport-0";
    for (unsigned n = 1; !BoundaryFits(m_strBoundary); ++n) {
        m_strBoundary = "RQCrashReport-" + std::to_string(n);
    }
    size_t nSize = 0;
    for (const Part& part : m_vecParts) {
        nSize += part.strBytes.size() + 256;
    }
    m_strBody.clear();
    m_strBody.reserve(nSize + 64);
    for (Part& part : m_vecParts) {
        m_strBody += "--" + m_strBoundary + "\r\n";
        m_strBody += "Content-Disposition: form-data; name=\"" + QuotedValue(part.strName) + "\"";
        if (part.bFile) {
            m_strBody += "; filename=\"" + QuotedValue(part.strFileName) + "\"\r\n";
            m_strBody += "Content-Type: " + part.strContentType;
        }
        m_strBody += "\r\n\r\n";
        m_strBody += part.strBytes;
        m_strBody += "\r\n";
        std::string().swap(part.strBytes);  // the body holds the only copy from now on
    }
    m_strBody += "--" + m_strBoundary + "--\r\n";
}

std::string CRQMultipartBody::ContentType() const {
    return "multipart/form-data; boundary=" + m_strBoundary;
}
