#include "BTState.h"

#include "baselib/win/RQBLModulePath.h"
#include "baselib/win/RQBLWinHandle.h"

namespace rqbt {

CState& State() {
    static CState* s_pState = new CState;
    return *s_pState;
}

CLogFile* FindLog(INT_PTR iHandle) {
    CState& state = State();
    if (iHandle <= 0 || static_cast<size_t>(iHandle) > state.vecLogs.size()) {
        return nullptr;
    }
    CLogFile* pLog = state.vecLogs[static_cast<size_t>(iHandle) - 1].get();
    return pLog->bOpen ? pLog : nullptr;
}

std::wstring ProgramFolder() {
    std::wstring strFolder = RQBLModuleFolder();
    if (strFolder.empty()) {
        return L".";
    }
    if (strFolder.back() == L'\\') {
        strFolder.pop_back();  // a drive root: the caller adds the separator
    }
    return strFolder;
}

std::wstring ResolvePath(const std::wstring& strPath) {
    bool bAbsolute = (strPath.size() >= 2 && strPath[1] == L':') ||
                     (!strPath.empty() && (strPath[0] == L'\\' || strPath[0] == L'/'));
    return bAbsolute ? strPath : ProgramFolder() + L"\\" + strPath;
}

std::string ToUtf8(const std::wstring& strText) {
    if (strText.empty()) {
        return std::string();
    }
    int nBytes = WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0,
                                     nullptr, nullptr);
    if (nBytes <= 0) {
        return std::string();
    }
    std::string strOut(static_cast<size_t>(nBytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), strOut.data(), nBytes,
                        nullptr, nullptr);
    return strOut;
}

bool WriteWholeFile(const std::wstring& strPath, const std::string& strBytes) {
    // Others may read the file while it is rewritten (a report copying it).
    CRQBLHandle hFile(CreateFileW(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        return false;
    }
    DWORD dwWritten = 0;
    return strBytes.empty() || (WriteFile(hFile.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()),
                                          &dwWritten, nullptr) &&
                                dwWritten == strBytes.size());
}

bool CLogFile::Flush() const {
    std::wstring strText;
    for (const std::wstring& strEntry : entries) {
        strText += strEntry;
        strText += L"\r\n";
    }
    return WriteWholeFile(strPath, ToUtf8(strText));
}

}  // namespace rqbt
