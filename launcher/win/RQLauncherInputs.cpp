#include "launcher/win/RQLauncherInputs.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLModulePath.h"
#include "baselib/win/RQBLWinHandle.h"

namespace {

std::vector<std::wstring> CommandLineArgs() {
    int nArgs = 0;
    CRQBLArgv args(CommandLineToArgvW(GetCommandLineW(), &nArgs));
    std::vector<std::wstring> vecArgs;
    for (int i = 0; args && i < nArgs; ++i) {
        vecArgs.emplace_back(args.Get()[i]);
    }
    return vecArgs;
}

bool ReadWholeFile(const std::wstring& strPath, std::string& strBytes) {
    CRQBLHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    char buf[4096];
    DWORD dwRead = 0;
    // An address file is a few lines; anything past 1 MiB is not one.
    while (strBytes.size() < (1u << 20) && ReadFile(file.Get(), buf, sizeof(buf), &dwRead, nullptr) &&
           dwRead > 0) {
        strBytes.append(buf, dwRead);
    }
    return true;
}

// The file's text as the system's profile functions read it: UTF-16 after its
// byte-order mark, UTF-8 after its own, else the ANSI code page.
std::wstring DecodeProfileText(const std::string& strBytes) {
    if (strBytes.size() >= 2 && static_cast<unsigned char>(strBytes[0]) == 0xFF &&
        static_cast<unsigned char>(strBytes[1]) == 0xFE) {
        std::wstring strText;
        for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
            strText.push_back(static_cast<wchar_t>(static_cast<unsigned char>(strBytes[i]) |
                                                   (static_cast<unsigned char>(strBytes[i + 1]) << 8)));
        }
        return strText;
    }
    if (strBytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return RQBLUtf8ToWide(strBytes.data() + 3, strBytes.size() - 3);
    }
    return rqbl::AnsiToWide(strBytes.data(), strBytes.size());
}

}  // namespace

RQ_LAUNCHER_INPUTS RQGatherLauncherInputs(const std::wstring& strDefaultCdnAddress) {
    RQ_LAUNCHER_INPUTS inputs;
    inputs.vecArgs = CommandLineArgs();
    inputs.strCommandLine = GetCommandLineW();
    inputs.strDefaultCdnAddress = strDefaultCdnAddress;
    // Read once, at the start: a player who wants a repair holds Shift while
    // starting the launcher, until its window shows.
    inputs.bRepairKeyHeld = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
    // The working folder is the program's: its own file is its bare name.
    std::wstring strSelf = RQBLModulePath();
    inputs.strSelfPath = strSelf.substr(strSelf.find_last_of(L"\\/") + 1);

    // Read only when a search for exactly this name finds it.
    std::wstring strFolder = rqbl::GetCurrentDir();
    if (strFolder.empty()) {
        return inputs;
    }
    std::wstring strPath = strFolder + L"\\LOGIN_ADDRESS.LAD";
    WIN32_FIND_DATAW fd{};
    CRQBLFindHandle find(FindFirstFileW(strPath.c_str(), &fd));
    if (find) {
        inputs.bHasAddressFile = true;
        std::string strBytes;
        if (ReadWholeFile(strPath, strBytes)) {
            inputs.strAddressFileText = DecodeProfileText(strBytes);
        }
    }
    return inputs;
}
