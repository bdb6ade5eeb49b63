// Where the download tests get their files from: the in-process test server,
// or, when RQ_TEST_BASE_URL and RQ_TEST_CONTENT_ROOT are set (the nginx run),
// a real server that serves the folder RQ_TEST_CONTENT_ROOT.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "RQTestHttpServer.h"

namespace rqtest {

std::wstring EnvVar(const wchar_t* pszName);
// UTF-8 of wide text, for messages and for byte strings that carry URLs.
std::string Narrow(const std::wstring& strText);

// Bytes of a file; empty (and bOk false) when it cannot be read.
std::string ReadBytes(const std::filesystem::path& p, bool* pbOk = nullptr);
bool WriteBytes(const std::filesystem::path& p, const std::string& strData);
// A deterministic body of n bytes that differs from file to file.
std::string MakeBody(size_t n, unsigned nSeed);
// Names of the files in a folder tree (relative, "/"-separated), sorted.
std::vector<std::wstring> ListTree(const std::filesystem::path& root);

class CTestContent {
public:
    CTestContent();
    ~CTestContent();
    CTestContent(const CTestContent&) = delete;
    CTestContent& operator=(const CTestContent&) = delete;

    bool Ready() const { return m_bReady; }
    bool IsExternal() const { return m_bExternal; }
    std::wstring BaseUrl() const { return m_strBaseUrl; }
    const std::filesystem::path& Root() const { return m_root; }
    // Null for the external server.
    CRQTestHttpServer* Server() { return m_pServer.get(); }

    // strRel uses "/" between folders.
    bool Put(const std::wstring& strRel, const std::string& strData);

private:
    bool m_bReady = false;
    bool m_bExternal = false;
    std::filesystem::path m_root;
    std::wstring m_strBaseUrl;
    std::unique_ptr<CRQTestHttpServer> m_pServer;
};

}  // namespace rqtest
