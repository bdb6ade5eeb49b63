#include "baselib/RQBLFileOps.h"

namespace rqbl {

bool WriteFileAtomically(const std::wstring& strPath, const std::string& strBytes) {
    const std::wstring strTemp = strPath + L".rqpart";
    CRQBLOutFile file;
    bool bWritten = file.Open(strTemp, true) == FileError::NONE &&
                    file.Write(strBytes.data(), strBytes.size()) == FileError::NONE;
    // Closed in any case, so that the temporary file can be removed.
    bWritten = file.Close() == FileError::NONE && bWritten;
    if (bWritten && ReplaceAtomically(strTemp, strPath) == FileError::NONE) {
        return true;
    }
    RemoveFile(strTemp);
    return false;
}

}  // namespace rqbl
