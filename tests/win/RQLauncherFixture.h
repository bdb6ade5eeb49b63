// What every test of the real Launcher.exe starts from: a fresh install
// folder holding a copy of the launcher, a way to start it there, and the
// generous time-outs that a loaded machine needs.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "RQUiProbe.h"

namespace rqtest {

class CLauncherFixture : public ::testing::Test {
protected:
    // On a loaded machine a Wine process can take many seconds to start or
    // to show a window.
    static constexpr DWORD kUiTimeoutMs = 90000;

    // Call from SetUp: a new folder under the temporary folder with a copy of
    // the launcher in it.
    void MakeInstall(const wchar_t* pszTag) {
        m_strFolder = rqui::MakeTempFolder(pszTag);
        ASSERT_FALSE(m_strFolder.empty());
        ASSERT_TRUE(rqui::CopyInto(rqui::ProgramFolder() + L"\\Launcher.exe", m_strFolder));
    }
    // The game's stand-in, which records the command line it was started with.
    void AddGame() { ASSERT_TRUE(rqui::CopyInto(rqui::ProgramFolder() + L"\\TOLVANE.exe", m_strFolder)); }

    void TearDown() override {
        if (!m_strFolder.empty()) {
            rqui::RemoveFolderTree(m_strFolder);
        }
    }

    std::filesystem::path Install() const { return std::filesystem::path(m_strFolder); }
    std::wstring LauncherPath() const { return m_strFolder + L"\\Launcher.exe"; }
    // The launcher's whole command line: its quoted path, then strArgs.
    std::wstring LauncherCommandLine(const std::wstring& strArgs) const {
        return L"\"" + LauncherPath() + L"\" " + strArgs;
    }
    // Started from another folder, as a player's shortcut may do: the launcher
    // must work on its own folder.
    bool StartLauncher(rqui::CChildProcess& proc, const std::wstring& strArgs) const {
        return proc.Start(LauncherPath(), LauncherCommandLine(strArgs), rqui::ProgramFolder());
    }

    std::wstring m_strFolder;
};

}  // namespace rqtest
