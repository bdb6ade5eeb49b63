#include "tools/mkpatch/RQReleaseCheck.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/log/RQBLLogSink.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQDeltaFrames.h"
#include "patch/RQDeltaIndex.h"
#include "patch/RQKeyList.h"
#include "patch/RQPatchManifest.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReservedNames.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQTimestamp.h"
#include "patch/RQZstdFrames.h"
#include "script/RQLuaTable.h"

namespace {

// A script is a list of files: hundreds of MiB would be none.
constexpr size_t kMaxScriptBytes = 256 * 1024 * 1024;

// Keeps what arrives in memory, up to a cap.
class CMemorySink : public CRQBLFetchSink {
public:
    explicit CMemorySink(uint64_t ullMax) : m_ullMax(ullMax) {}
    bool OnHead(const RQBL_RESPONSE_HEAD& head) override {
        return !head.bHasLength || head.ullLength <= m_ullMax;
    }
    bool OnData(const uint8_t* pData, size_t nBytes) override {
        if (m_strBytes.size() + nBytes > m_ullMax) {
            m_bTooLarge = true;
            return false;
        }
        m_strBytes.append(reinterpret_cast<const char*>(pData), nBytes);
        return true;
    }
    std::string m_strBytes;
    bool m_bTooLarge = false;

private:
    uint64_t m_ullMax;
};

// Checksums of a whole file as it arrives.
class CFileSink : public CRQBLFetchSink {
public:
    bool OnHead(const RQBL_RESPONSE_HEAD& /*head*/) override { return true; }
    bool OnData(const uint8_t* pData, size_t nBytes) override {
        m_crc.Update(pData, nBytes);
        m_sha.Update(pData, nBytes);
        m_ullBytes += nBytes;
        return true;
    }
    CRQBLStreamCrc m_crc;
    CRQBLSha256 m_sha;
    uint64_t m_ullBytes = 0;
};

// Frames of a pack or a zst as they arrive.
class CFramesSink : public CRQBLFetchSink {
public:
    CFramesSink(const RQ_DELTA_INDEX& index, std::vector<RQ_DELTA_FRAME> vecFrames)
        : m_reader(index, std::move(vecFrames), [](uint32_t, const uint8_t*, size_t) { return true; }) {}
    bool OnHead(const RQBL_RESPONSE_HEAD& /*head*/) override { return true; }
    bool OnData(const uint8_t* pData, size_t nBytes) override {
        const RQDeltaFrameResult r = m_reader.Feed(pData, nBytes);
        return r == RQDeltaFrameResult::MORE || r == RQDeltaFrameResult::DONE;
    }
    CRQDeltaFrameReader m_reader;
};

std::wstring Wide(const std::string& s) {
    return RQBLUtf8ToWide(s);
}

std::wstring FetchProblem(const RQBL_FETCH_RESULT& result) {
    if (result.error == RQBLFetchError::STATUS) {
        return result.nStatus == 404 ? L"missing (404)" : L"answered " + std::to_wstring(result.nStatus);
    }
    return RQBLFetchErrorName(result.error);
}

// Fetches and checks the objects of a release, several at once; collects
// one line per problem.
class CChecker {
public:
    CChecker(std::wstring strBase, RQ_RELEASE_CHECK& report)
        : m_strBase(std::move(strBase)), m_report(report) {}

    RQBL_FETCH_REQUEST Request(const std::wstring& strPath) const {
        RQBL_FETCH_REQUEST request;
        request.strUrl = m_strBase + strPath;
        return request;
    }

    void Problem(const std::wstring& strLine) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_report.vecProblems.push_back(strLine);
    }

    void Counted(uint64_t ullBytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_report.ullObjects;
        m_report.ullBytes += ullBytes;
    }

    // Every object of one listed file: the file itself, then in a delta
    // release its index and the pack and the zst the index names.
    void CheckFile(CRQBLTransport& transport, const CODE_INFO& info, const RQ_PATCH_PATH& path) {
        const std::wstring strShown = info.strPath + info.strFileName;
        CheckWhole(transport, info, path, strShown);
        if (info.strDeltaIndex.empty()) {
            return;
        }
        RQ_DELTA_INDEX index;
        if (CheckIndex(transport, info, strShown, index)) {
            const RQ_DELTA_LAYOUT layout = RQDeltaLayout(index);
            CheckFrames(transport, index, strShown, true,
                        RQDeltaPackFrames(index, layout, 0, static_cast<uint32_t>(index.vecChunks.size())));
            CheckFrames(transport, index, strShown, false,
                        RQDeltaZstFrames(index, layout, 0, static_cast<uint32_t>(index.vecBlocks.size())));
        }
    }

private:
    void CheckWhole(CRQBLTransport& transport, const CODE_INFO& info, const RQ_PATCH_PATH& path,
                    const std::wstring& strShown) {
        CFileSink sink;
        const RQBL_FETCH_RESULT result = transport.Fetch(Request(path.strUrl), sink);
        Counted(sink.m_ullBytes);
        RQ_SHA256 digest{};
        if (result.error != RQBLFetchError::NONE) {
            Problem(strShown + L": " + FetchProblem(result));
        } else if (sink.m_ullBytes != info.ullFileSize || sink.m_crc.Value() != info.dwCRC) {
            Problem(strShown + L": not the listed file (size or CRC-32 differs)");
        } else if (!info.strSHA256.empty() &&
                   (!sink.m_sha.Final(digest) || Wide(RQBLSha256Hex(digest)) != info.strSHA256)) {
            Problem(strShown + L": not the listed file (SHA-256 differs)");
        }
    }

    bool CheckIndex(CRQBLTransport& transport, const CODE_INFO& info, const std::wstring& strShown,
                    RQ_DELTA_INDEX& index) {
        RQ_SHA256 expected{};
        if (!RQBLParseSha256Hex(info.strDeltaIndex, expected)) {
            Problem(strShown + L": slot 14 is no SHA-256");
            return false;
        }
        const std::wstring strWhat =
            RQDeltaObjectPath(expected, RQ_DELTA_INDEX_SUFFIX) + L" (index of " + strShown + L")";
        CMemorySink sink(RQDeltaIndexMaxBytes(info.ullFileSize));
        const RQBL_FETCH_RESULT result =
            transport.Fetch(Request(RQDeltaObjectPath(expected, RQ_DELTA_INDEX_SUFFIX)), sink);
        Counted(sink.m_strBytes.size());
        RQ_SHA256 digest{};
        std::string strWhy;
        if (result.error != RQBLFetchError::NONE) {
            Problem(strWhat + L": " + FetchProblem(result));
        } else if (!CRQBLSha256::Of(sink.m_strBytes.data(), sink.m_strBytes.size(), digest) ||
                   digest != expected) {
            Problem(strWhat + L": its SHA-256 is not slot 14's");
        } else if (!RQParseDeltaIndex(sink.m_strBytes, info.ullFileSize, index, strWhy)) {
            Problem(strWhat + L": " + Wide(strWhy));
        } else if (!info.strSHA256.empty() && Wide(RQBLSha256Hex(index.fileHash)) != info.strSHA256) {
            Problem(strWhat + L": an index of another version of the file");
        } else {
            return true;
        }
        return false;
    }

    void CheckFrames(CRQBLTransport& transport, const RQ_DELTA_INDEX& index, const std::wstring& strShown,
                     bool bPack, std::vector<RQ_DELTA_FRAME> vecFrames) {
        const std::wstring strPath = bPack ? RQDeltaObjectPath(index.packHash, RQ_DELTA_PACK_SUFFIX)
                                           : RQDeltaObjectPath(index.zstHash, RQ_DELTA_ZST_SUFFIX);
        const std::wstring strWhat = strPath + (bPack ? L" (pack of " : L" (zst of ") + strShown + L")";
        CFramesSink sink(index, std::move(vecFrames));
        const RQBL_FETCH_RESULT result = transport.Fetch(Request(strPath), sink);
        Counted(bPack ? index.ullPackBytes : index.ullZstBytes);
        switch (sink.m_reader.Result()) {
            case RQDeltaFrameResult::DONE:
                if (result.error != RQBLFetchError::NONE) {
                    Problem(strWhat + L": " + FetchProblem(result));
                }
                return;
            case RQDeltaFrameResult::DAMAGED:
                Problem(strWhat + L": a frame does not decompress to its chunks, or more follows");
                return;
            case RQDeltaFrameResult::MISMATCH:
                Problem(strWhat + L": a chunk differs from its index");
                return;
            default:
                Problem(strWhat + L": " +
                        (result.error == RQBLFetchError::NONE ? std::wstring(L"cut short")
                                                              : FetchProblem(result)));
                return;
        }
    }

    const std::wstring m_strBase;
    RQ_RELEASE_CHECK& m_report;
    std::mutex m_mutex;
};

// One of the small signed files beside the script; false when the server
// does not have it (bMissing then) or it could not be fetched.
bool FetchSmall(CRQBLTransport& transport, CChecker& checker, const wchar_t* pszName, size_t nMax,
                std::string& strBytes, bool& bMissing) {
    CMemorySink sink(nMax);
    const RQBL_FETCH_RESULT result = transport.Fetch(checker.Request(pszName), sink);
    checker.Counted(sink.m_strBytes.size());
    bMissing = result.error == RQBLFetchError::STATUS && result.nStatus == 404;
    if (result.error != RQBLFetchError::NONE && !bMissing) {
        checker.Problem(std::wstring(pszName) + L": " + FetchProblem(result));
    }
    strBytes = sink.m_strBytes;
    return result.error == RQBLFetchError::NONE;
}

std::string HexOf(const std::string& strBytes) {
    RQ_SHA256 digest{};
    CRQBLSha256::Of(strBytes.data(), strBytes.size(), digest);
    return RQBLSha256Hex(digest);
}

// The key list and the timestamp, where the release has them: well formed,
// signed, current, and naming the very script, signature and key list the
// server gives now (a half-finished upload shows here first).
void CheckTrustFiles(CRQBLTransport& transport, CChecker& checker, const std::string& strScript,
                     const std::string& strSignature) {
    std::string strKeys;
    std::string strStamp;
    bool bNoKeys = false;
    bool bNoStamp = false;
    const bool bHaveKeys =
        FetchSmall(transport, checker, RQ_KEY_LIST_FILE, RQ_KEY_LIST_MAX_BYTES, strKeys, bNoKeys);
    const bool bHaveStamp =
        FetchSmall(transport, checker, RQ_TIMESTAMP_FILE, RQ_TIMESTAMP_MAX_BYTES, strStamp, bNoStamp);
    RQ_KEY_LIST list;
    if (bHaveKeys && (!RQParseKeyList(strKeys, true, list) || !RQVerifyKeyList(list))) {
        checker.Problem(std::wstring(RQ_KEY_LIST_FILE) + L": not a key list signed by the root it names");
    }
    if (bHaveKeys && bNoStamp) {
        checker.Problem(std::wstring(RQ_TIMESTAMP_FILE) +
                        L": missing, and launchers that know the key list need it");
    }
    if (!bHaveStamp) {
        return;
    }
    RQ_TIMESTAMP stamp;
    if (!RQParseTimestamp(strStamp, stamp) || !RQVerifyTimestamp(stamp)) {
        checker.Problem(std::wstring(RQ_TIMESTAMP_FILE) + L": not a signed timestamp");
        return;
    }
    const std::pair<const char*, std::pair<RQ_SHA256, std::string>> named[] = {
        {"PATCHER_CODE.LUA", {stamp.script, strScript}},
        {"PATCHER_CODE.LUA.sig", {stamp.scriptSignature, strSignature}},
        {"PATCHER_KEYS.txt", {stamp.keyList, strKeys}},
    };
    for (const auto& [pszName, hashes] : named) {
        if (RQBLSha256Hex(hashes.first) != HexOf(hashes.second)) {
            checker.Problem(std::wstring(RQ_TIMESTAMP_FILE) + L": names another " + Wide(pszName) +
                            L" than the server gives (an upload not finished, or one file left over)");
        }
    }
    if (stamp.nExpiresUnix <= static_cast<int64_t>(std::time(nullptr))) {
        checker.Problem(std::wstring(RQ_TIMESTAMP_FILE) + L": expired on " + Wide(stamp.strExpires) +
                        L" (renew it with mkpatch --renew)");
    }
}

std::wstring DescribeSignature(CRQBLTransport& transport, CChecker& checker, const std::string& strScript,
                               std::string& strSigBytes) {
    CMemorySink sink(RQ_SCRIPT_SIGNATURE_MAX_BYTES);
    const RQBL_FETCH_RESULT result = transport.Fetch(checker.Request(RQ_SCRIPT_SIGNATURE_FILE), sink);
    checker.Counted(sink.m_strBytes.size());
    strSigBytes = sink.m_strBytes;
    if (result.error == RQBLFetchError::STATUS && result.nStatus == 404) {
        return L"no signature file: an unsigned release (launchers built with keys refuse it)";
    }
    if (result.error != RQBLFetchError::NONE) {
        return L"the signature file: " + FetchProblem(result);
    }
    RQ_SCRIPT_SIGNATURE sig;
    if (!RQParseScriptSignature(sink.m_strBytes, sig)) {
        return L"the signature file is not one";
    }
    const std::string strMessage = RQSignedScriptMessage(strScript, sig);
    const bool bGood = RQBLEd25519Verify(sig.key, strMessage.data(), strMessage.size(), sig.signature);
    return Wide("release " + std::to_string(sig.ullRelease) + ", signed by " + RQFormatPublicKey(sig.key) +
                (sig.strExpires.empty() ? "" : ", expires " + sig.strExpires)) +
           (bGood ? L": the signature matches the script" : L": THE SIGNATURE DOES NOT MATCH THE SCRIPT");
}

}  // namespace

RQ_RELEASE_CHECK RQCheckPublishedRelease(
    const std::wstring& strBaseUrl, const RQTransportFactory& fnTransport, unsigned nThreads,
    const std::function<void(uint64_t nDone, uint64_t nTotal)>& fnProgress) {
    RQ_RELEASE_CHECK report;
    CChecker checker(strBaseUrl, report);
    std::unique_ptr<CRQBLTransport> pTransport = fnTransport();
    CMemorySink script(kMaxScriptBytes);
    const RQBL_FETCH_RESULT result = pTransport->Fetch(checker.Request(RQ_SCRIPT_FILE), script);
    checker.Counted(script.m_strBytes.size());
    if (result.error != RQBLFetchError::NONE) {
        checker.Problem(std::wstring(RQ_SCRIPT_FILE) + L": " + FetchProblem(result));
        return report;
    }
    // The compressed script is optional (launchers then fetch the plain one),
    // but one that is there must be this script: an older one left behind
    // costs every launcher with keys a second request at every start.
    CMemorySink compressed(kMaxScriptBytes);
    const RQBL_FETCH_RESULT zst = pTransport->Fetch(checker.Request(RQ_COMPRESSED_SCRIPT_FILE), compressed);
    checker.Counted(compressed.m_strBytes.size());
    std::string strUnpacked;
    if (zst.error != RQBLFetchError::NONE && zst.nStatus != 404) {
        checker.Problem(std::wstring(RQ_COMPRESSED_SCRIPT_FILE) + L": " + FetchProblem(zst));
    } else if (zst.error == RQBLFetchError::NONE &&
               (!CRQZstdDecompressor().DecompressWhole(compressed.m_strBytes, kMaxScriptBytes, strUnpacked) ||
                strUnpacked != script.m_strBytes)) {
        checker.Problem(std::wstring(RQ_COMPRESSED_SCRIPT_FILE) +
                        L": not this script compressed (an older one?)");
    }
    std::string strSignature;
    report.strSignature = DescribeSignature(*pTransport, checker, script.m_strBytes, strSignature);
    CheckTrustFiles(*pTransport, checker, script.m_strBytes, strSignature);

    // The script runs as a launcher runs it: in the sandbox, from its bytes.
    CRQBLNullLog log;
    CRQLuaTable lua(log);
    std::map<std::wstring, CODE_INFO> mapCode;
    std::map<std::wstring, CODE_INFO> mapDelete;
    const bool bRuns = lua.DoBuffer(script.m_strBytes, "PATCHER_CODE.LUA") &&
                       RQReadCodeTables(&lua, mapCode, mapDelete, log);
    if (!bRuns) {
        checker.Problem(L"PATCHER_CODE.LUA: does not run, or has no CODE_TABLE");
        return report;
    }
    std::vector<std::pair<CODE_INFO, RQ_PATCH_PATH>> vecFiles;
    for (const auto& entry : mapCode) {
        const CODE_INFO& info = entry.second;
        RQ_PATCH_PATH path;
        if (RQMakePatchPath(info.strPath + info.strFileName, path) != RQPatchPathError::NONE) {
            checker.Problem(info.strPath + info.strFileName + L": a path launchers refuse");
            continue;
        }
        vecFiles.emplace_back(info, path);
    }
    std::mutex mutex;
    size_t nNext = 0;
    uint64_t nDone = 0;
    auto fnWorker = [&](CRQBLTransport& transport) {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (nNext == vecFiles.size()) {
                    return;
                }
                i = nNext++;
            }
            checker.CheckFile(transport, vecFiles[i].first, vecFiles[i].second);
            std::lock_guard<std::mutex> lock(mutex);
            if (fnProgress) {
                fnProgress(++nDone, vecFiles.size());
            }
        }
    };
    std::vector<std::thread> vecThreads;
    for (unsigned n = 1; n < std::max(1u, nThreads); ++n) {
        vecThreads.emplace_back([&] { fnWorker(*fnTransport()); });
    }
    fnWorker(*pTransport);
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    return report;
}
