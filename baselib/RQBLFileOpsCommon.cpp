#include "baselib/RQBLFileOps.h"

#include <filesystem>
#include <fstream>

namespace rqbl {

bool WriteFileAtomically(const std::wstring& strPath, const std::string& strBytes, FileError* pError) {
    const std::wstring strTemp = strPath + RQBL_TEMP_SUFFIX;
    CRQBLOutFile file;
    FileError error = file.Open(strTemp, true);
    if (error == FileError::NONE) {
        error = file.Write(strBytes.data(), strBytes.size());
    }
    // Closed in any case, so that the temporary file can be removed.
    const FileError closed = file.Close();
    error = error != FileError::NONE ? error : closed;
    if (error == FileError::NONE) {
        error = ReplaceAtomically(strTemp, strPath);
    }
    if (error == FileError::NONE) {
        return true;
    }
    RemoveFile(strTemp);
    if (pError != nullptr) {
        *pError = error;
    }
    return false;
}

bool ReadSmallFile(const std::wstring& strPath, size_t nMaxBytes, std::string& strBytes) {
    std::ifstream in(std::filesystem::path(strPath), std::ios::binary);
    if (!in) {
        return false;
    }
    std::string strOut;
    char buffer[16384];
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0) {
        const auto nGot = static_cast<size_t>(in.gcount());
        if (nGot > nMaxBytes - strOut.size()) {
            return false;
        }
        strOut.append(buffer, nGot);
    }
    if (in.bad()) {
        return false;
    }
    strBytes.swap(strOut);
    return true;
}

}  // namespace rqbl
