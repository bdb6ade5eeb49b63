#include "tools/mkpatch/RQOwnerOnlyFile.h"

#include <windows.h>

#include <sddl.h>

#include <vector>

#include "baselib/win/RQBLWinHandle.h"

namespace {

// "D:P(A;;FA;;;<the user's SID>)": full access for the user running the
// tool and for nobody else, with no entries inherited from the folder.
bool OwnerOnlyDescriptor(CRQBLSecurityDescriptor& descriptor) {
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
        return false;
    }
    CRQBLHandle token(hToken);
    DWORD nSize = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &nSize);
    std::vector<BYTE> vecUser(nSize);
    LPWSTR pszSid = nullptr;
    if (nSize == 0 || !GetTokenInformation(token.Get(), TokenUser, vecUser.data(), nSize, &nSize) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(vecUser.data())->User.Sid, &pszSid)) {
        return false;
    }
    CRQBLLocalString sid(pszSid);
    std::wstring strSddl = L"D:P(A;;FA;;;" + std::wstring(pszSid) + L")";
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(strSddl.c_str(), SDDL_REVISION_1, &pDescriptor,
                                                              nullptr)) {
        return false;
    }
    descriptor.Reset(pDescriptor);
    return true;
}

}  // namespace

RQOwnerOnlyFile RQCreateOwnerOnlyFile(const std::filesystem::path& file, const std::string& strData) {
    CRQBLSecurityDescriptor descriptor;
    if (!OwnerOnlyDescriptor(descriptor)) {
        return RQOwnerOnlyFile::FAILED;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    // CREATE_NEW: never over an existing file.
    CRQBLHandle handle(
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        return GetLastError() == ERROR_FILE_EXISTS ? RQOwnerOnlyFile::EXISTS : RQOwnerOnlyFile::FAILED;
    }
    DWORD nWritten = 0;
    const bool bOk =
        WriteFile(handle.Get(), strData.data(), static_cast<DWORD>(strData.size()), &nWritten, nullptr) &&
        nWritten == strData.size() && FlushFileBuffers(handle.Get());
    handle.Close();
    if (!bOk) {
        DeleteFileW(file.c_str());
        return RQOwnerOnlyFile::FAILED;
    }
    return RQOwnerOnlyFile::CREATED;
}
