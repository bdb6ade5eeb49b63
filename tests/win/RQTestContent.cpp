#include "RQTestContent.h"

#include "baselib/RQBLUtf8.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace rqtest {

namespace {

fs::path MakeUniqueFolder(const fs::path& parent, const std::wstring& strTag) {
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        fs::path p = parent / (strTag + std::to_wstring(rd()));
        std::error_code ec;
        if (fs::create_directories(p, ec)) {
            return p;
        }
    }
    return fs::path();
}

}  // namespace

std::wstring EnvVar(const wchar_t* pszName) {
    wchar_t szValue[4096] = {};
    DWORD n = GetEnvironmentVariableW(pszName, szValue, 4096);
    return (n > 0 && n < 4096) ? std::wstring(szValue, n) : std::wstring();
}

std::string Narrow(const std::wstring& strText) {
    return RQBLWideToUtf8(strText);
}

std::string ReadBytes(const fs::path& p, bool* pbOk) {
    std::ifstream in(p, std::ios::binary);
    if (pbOk != nullptr) {
        *pbOk = static_cast<bool>(in);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const fs::path& p, const std::string& strData) {
    std::error_code ec;
    if (p.has_parent_path()) {
        fs::create_directories(p.parent_path(), ec);
    }
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
    return static_cast<bool>(out);
}

std::string MakeBody(size_t n, unsigned nSeed) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u ^ (nSeed * 2654435761u);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x & 0xFF);
    }
    return s;
}

std::vector<std::wstring> ListTree(const fs::path& root) {
    std::vector<std::wstring> v;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) {
            v.push_back(fs::relative(it->path(), root).generic_wstring());
        }
    }
    std::sort(v.begin(), v.end());
    return v;
}

CTestContent::CTestContent() {
    std::wstring strUrl = EnvVar(L"RQ_TEST_BASE_URL");
    std::wstring strRoot = EnvVar(L"RQ_TEST_CONTENT_ROOT");
    if (!strUrl.empty() && !strRoot.empty()) {
        // One folder per test inside the served root, so that tests do not
        // see each other's files.
        m_bExternal = true;
        m_root = MakeUniqueFolder(fs::path(strRoot), L"t");
        std::wstring strSub = m_root.filename().wstring();
        m_strBaseUrl = strUrl + (strUrl.back() == L'/' ? L"" : L"/") + strSub + L"/";
        m_bReady = !m_root.empty();
        return;
    }
    std::error_code ec;
    m_root = MakeUniqueFolder(fs::temp_directory_path(ec), L"rq_content_");
    m_pServer = std::make_unique<CRQTestHttpServer>();
    m_bReady = !m_root.empty() && m_pServer->Start(m_root.wstring());
    m_strBaseUrl = m_pServer->BaseUrl();
}

CTestContent::~CTestContent() {
    if (m_pServer) {
        m_pServer->Stop();
    }
    std::error_code ec;
    if (!m_root.empty()) {
        fs::remove_all(m_root, ec);
    }
}

bool CTestContent::Put(const std::wstring& strRel, const std::string& strData) {
    return WriteBytes(m_root / fs::path(strRel), strData);
}

}  // namespace rqtest
