// Download benchmark (not a test): whole updates of an empty folder with the
// update worker and the WinINet downloader, from the server named by
// RQ_TEST_BASE_URL serving RQ_TEST_CONTENT_ROOT (scripts/bench-download.sh
// starts nginx and runs curl beside it for comparison).
//   download_bench WORK_FOLDER [BIG_MIB] [FILES] [FILE_KIB] [RUNS]
// Prints "key=value" lines for the script; the big file's figures are the
// median of RUNS runs (the machine's disk and other load make single runs
// noisy).
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RQTestContent.h"
#include "RQTestPatchScript.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLHttp.h"
#include "launcher/RQLauncherThread.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<int64_t> g_nFilePassStart{0};

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

double Seconds(int64_t nFrom, int64_t nTo) {
    return static_cast<double>(nTo - nFrom) / 1e6;
}

void TraceHook(const wchar_t*, int, const wchar_t* pszText) {
    if (std::wcsstr(pszText, L"LAUNCHER US_PATCHER_FILE_DOWNLOAD") != nullptr) {
        g_nFilePassStart = Now();
    }
}

// Times the moments of the update that the window would see.
class CBenchLink : public CRQLauncherLink {
public:
    std::atomic<int> nRanges{0};
    std::atomic<int64_t> nTransferStart{0};
    std::atomic<int64_t> nFull{0};
    std::atomic<bool> bDone{false};
    std::atomic<int> nBoxes{0};

    void SendToMainWindow(uint32_t nMessage, uint64_t, int64_t) override {
        if (nMessage == WM_RQ_PROGRESS_RANGE && ++nRanges == 2) {
            nTransferStart = Now();
        } else if (nMessage == WM_RQ_PROGRESS_FULL) {
            nFull = Now();
        } else if (nMessage == WM_RQ_UPDATE_DONE || nMessage == RQ_WM_CLOSE) {
            bDone = true;
        }
    }
    void ShowMessageBox(const std::wstring&) override { ++nBoxes; }
    void WaitMs(uint32_t dwMilliseconds) override { Sleep(dwMilliseconds); }
};

// Writes a file of pseudo-random bytes in pieces; returns its CRC-32.
uint32_t WriteRandomFile(const fs::path& p, uint64_t ullSize, uint64_t ullSeed) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> buf(1 << 17);  // 1 MiB
    uint64_t x = ullSeed * 0x9E3779B97F4A7C15ull + 1;
    CRQBLStreamCrc crc;
    for (uint64_t ullDone = 0; ullDone < ullSize;) {
        for (uint64_t& w : buf) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(ullSize - ullDone, buf.size() * 8));
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        crc.Update(buf.data(), n);
        ullDone += n;
    }
    return crc.Value();
}

struct ContentFile {
    std::string strPath;
    std::string strName;
    uint64_t ullSize;
    uint32_t dwCrc;
};

void WriteScript(const fs::path& p, const std::vector<ContentFile>& files) {
    std::string s = "CODE_TABLE = {\n";
    for (const ContentFile& f : files) {
        s += "  { " + rqtest::LuaString(f.strPath) + ", " + rqtest::LuaString(f.strName) + ", " +
             std::to_string(f.dwCrc) + ", 0, " + std::to_string(f.ullSize) + ", 0, 0, 0, 1, 0, 0, 0 },\n";
    }
    s += "}\n";
    rqtest::WriteBytes(p, s);
}

struct UpdateTimes {
    double dTotal = 0;
    double dSizePass = 0;
    double dTransfer = 0;
    bool bOk = false;
};

UpdateTimes RunUpdate(const std::wstring& strBaseUrl, const fs::path& install) {
    std::error_code ec;
    fs::remove_all(install, ec);
    fs::create_directories(install);
    fs::current_path(install);
    g_nFilePassStart = 0;
    auto* pLink = new CBenchLink;
    UpdateTimes t;
    int64_t nStart = Now();
    {
        CRQLauncherThread worker(RQ_UPDATE_SETTINGS{strBaseUrl}, std::make_unique<CRQBLHttp>(),
                                 std::unique_ptr<CRQLauncherLink>(pLink));
        worker.ThreadBegin(-1);
        for (int i = 0; i < 600000 && !pLink->bDone.load(); ++i) {
            Sleep(1);
        }
        t.bOk = pLink->bDone.load() && pLink->nFull.load() != 0 && pLink->nBoxes.load() == 0;
        t.dTotal = Seconds(nStart, pLink->nFull.load());
        t.dSizePass = Seconds(g_nFilePassStart.load(), pLink->nTransferStart.load());
        t.dTransfer = Seconds(pLink->nTransferStart.load(), pLink->nFull.load());
    }
    fs::current_path(install.parent_path());
    return t;
}

// One file through the downloader alone, for the client's own rate.
double BareTransfer(const std::wstring& strBaseUrl, const std::wstring& strName, const fs::path& folder) {
    fs::create_directories(folder);
    fs::current_path(folder);
    CRQBLHttp http;
    http.Open();
    int64_t nStart = Now();
    int32_t r = http.DownloadBegin(strBaseUrl.c_str(), strName.c_str(), L"./", L"bare.bin");
    while (r == DOWNLOAD_SUCCEEDED || r == DOWNLOAD_CONTINUE) {
        r = http.Downloading();
        if (r == DOWNLOAD_SUCCEEDED) {
            break;
        }
    }
    double d = Seconds(nStart, Now());
    fs::current_path(folder.parent_path());
    std::error_code ec;
    fs::remove_all(folder, ec);
    return r == DOWNLOAD_SUCCEEDED ? d : -1.0;
}

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring strUrl = rqtest::EnvVar(L"RQ_TEST_BASE_URL");
    std::wstring strRoot = rqtest::EnvVar(L"RQ_TEST_CONTENT_ROOT");
    if (argc < 2 || strUrl.empty() || strRoot.empty()) {
        std::fprintf(stderr,
                     "usage: download_bench WORK [BIG_MIB] [FILES] [FILE_KIB] (run by bench-download.sh)\n");
        return 2;
    }
    fs::path work(argv[1]);
    uint64_t ullBigMiB = argc > 2 ? std::wcstoull(argv[2], nullptr, 10) : 512;
    int nFiles = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 2000;
    uint64_t ullFileKiB = argc > 4 ? std::wcstoull(argv[4], nullptr, 10) : 32;
    int nRuns = argc > 5 ? std::max(1, static_cast<int>(std::wcstol(argv[5], nullptr, 10))) : 3;
    CRQBLLogTraceNum::SetTraceHook(&TraceHook);
    fs::path root(strRoot);

    // Content: one big file, and many small ones in a few folders.
    std::vector<ContentFile> big = {{"", "big.pak", ullBigMiB << 20, 0}};
    big[0].dwCrc = WriteRandomFile(root / "big" / "big.pak", big[0].ullSize, 1);
    WriteScript(root / "big" / "PATCHER_CODE.LUA", big);
    std::vector<ContentFile> many;
    std::FILE* pList = _wfopen((work / L"many-urls.txt").c_str(), L"w");
    for (int i = 0; i < nFiles; ++i) {
        char szName[32];
        std::snprintf(szName, sizeof(szName), "f%05d.dat", i);
        std::string strFolder = "d" + std::to_string(i % 20) + "/";
        ContentFile f{strFolder, szName, ullFileKiB << 10, 0};
        f.dwCrc =
            WriteRandomFile(root / "many" / (strFolder + szName), f.ullSize, 100 + static_cast<uint64_t>(i));
        many.push_back(f);
        if (pList != nullptr) {
            std::fprintf(pList, "many/%s%s\n", strFolder.c_str(), szName);
        }
    }
    if (pList != nullptr) {
        std::fclose(pList);
    }
    WriteScript(root / "many" / "PATCHER_CODE.LUA", many);
    std::printf("content_ready=1\n");
    std::fflush(stdout);

    std::vector<double> vecBare;
    std::vector<UpdateTimes> vecBig;
    bool bBigOk = true;
    for (int i = 0; i < nRuns; ++i) {
        vecBare.push_back(BareTransfer(strUrl + L"big/", L"big.pak", work / "bare"));
        vecBig.push_back(RunUpdate(strUrl + L"big/", work / "install-big"));
        std::error_code ec;
        bBigOk = bBigOk && vecBig.back().bOk &&
                 fs::file_size(work / "install-big" / "big.pak", ec) == big[0].ullSize;
    }
    std::sort(vecBare.begin(), vecBare.end());
    std::sort(vecBig.begin(), vecBig.end(),
              [](const UpdateTimes& a, const UpdateTimes& b) { return a.dTransfer < b.dTransfer; });
    double dBare = vecBare[vecBare.size() / 2];
    UpdateTimes tBig = vecBig[vecBig.size() / 2];
    UpdateTimes tMany = RunUpdate(strUrl + L"many/", work / "install-many");
    size_t nPeak = PeakWorkingSet();

    // The same update from the test server, which counts connections.
    rqtest::CRQTestHttpServer counter;
    int nConnections = -1;
    size_t nRequests = 0;
    UpdateTimes tCounted;
    if (counter.Start(root.wstring())) {
        tCounted = RunUpdate(counter.BaseUrl() + L"many/", work / "install-counted");
        nConnections = counter.Connections();
        nRequests = counter.Requests().size();
        counter.Stop();
    }

    double dMiB = static_cast<double>(ullBigMiB);
    std::printf("big_mib=%llu\n", static_cast<unsigned long long>(ullBigMiB));
    std::printf("big_bare_s=%.3f\nbig_bare_MBps=%.1f\n", dBare, dMiB * 1.048576 / dBare);
    std::printf("big_update_ok=%d\n", bBigOk ? 1 : 0);
    std::printf("big_update_s=%.3f\nbig_size_pass_s=%.3f\nbig_transfer_s=%.3f\n", tBig.dTotal, tBig.dSizePass,
                tBig.dTransfer);
    std::printf("big_transfer_MBps=%.1f\nbig_update_MBps=%.1f\n", dMiB * 1.048576 / tBig.dTransfer,
                dMiB * 1.048576 / tBig.dTotal);
    std::printf("many_files=%d\nmany_update_ok=%d\n", nFiles, tMany.bOk ? 1 : 0);
    std::printf("many_update_s=%.3f\nmany_size_pass_s=%.3f\nmany_transfer_s=%.3f\n", tMany.dTotal,
                tMany.dSizePass, tMany.dTransfer);
    std::printf("many_update_fps=%.1f\nmany_transfer_fps=%.1f\n", nFiles / tMany.dTotal,
                nFiles / tMany.dTransfer);
    std::printf("peak_working_set_mib=%.1f\n", static_cast<double>(nPeak) / (1 << 20));
    std::printf("counted_requests=%zu\ncounted_connections=%d\n", nRequests, nConnections);
    std::printf("counted_size_pass_s=%.3f\ncounted_transfer_s=%.3f\n", tCounted.dSizePass,
                tCounted.dTransfer);
    return bBigOk && tMany.bOk ? 0 : 1;
}
