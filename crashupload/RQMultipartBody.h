// An HTTP form upload body (multipart/form-data): text fields and files, with
// a boundary that occurs in none of them.
#pragma once

#include <string>
#include <vector>

class CRQMultipartBody {
public:
    void AddField(const std::string& strName, const std::string& strValue);
    void AddFile(const std::string& strName, const std::string& strFileName,
                 const std::string& strContentType, std::string strBytes);

    // Chooses the boundary and lays out the body; call once, after the parts.
    void Finish();
    // The request's Content-Type header value, with the boundary.
    std::string ContentType() const;
    const std::string& Body() const { return m_strBody; }

private:
    struct Part {
        std::string strName;
        std::string strFileName;
        bool bFile = false;
        std::string strContentType;
        std::string strBytes;
    };
    bool BoundaryFits(const std::string& strBoundary) const;

    std::vector<Part> m_vecParts;
    std::string m_strBoundary;
    std::string m_strBody;
};
