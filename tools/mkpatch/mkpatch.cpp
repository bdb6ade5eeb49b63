// mkpatch: the operator's patch tool. Lists every file of a game build
// folder in PATCHER_CODE.LUA and, on request, lays out a content folder
// ready to copy to any web server.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLUtf8.h"
#include "patch/RQKeyList.h"
#include "patch/RQPatchManifest.h"
#include "patch/RQReservedNames.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSecretKeyFile.h"
#include "patch/RQTimestamp.h"
#include "patch/RQUtcDate.h"
#include "patch/RQZstdFrames.h"
#include "tools/common/RQToolArgs.h"
#include "tools/mkpatch/RQCheckTransport.h"
#include "tools/mkpatch/RQDeltaPublish.h"
#include "tools/mkpatch/RQPatchScan.h"
#include "tools/mkpatch/RQPatchScript.h"
#include "tools/mkpatch/RQSecretKeyStore.h"
#include "tools/mkpatch/RQTrustFiles.h"

namespace fs = std::filesystem;

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_USAGE = 1, EXIT_REFUSED = 2, EXIT_IO = 3, EXIT_PROBLEMS = 4 };

const char* const kUsage =
    "usage: mkpatch [options] GAME_FOLDER\n"
    "       mkpatch --keygen SECRET_FILE\n"
    "       mkpatch --root ROOT_SECRET_FILE [--content DIR] KEY_LIST\n"
    "       mkpatch --renew SECRET_FILE [--days N] --content DIR\n"
    "       mkpatch --verify BASE_URL\n"
    "\n"
    "Writes PATCHER_CODE.LUA listing every file of GAME_FOLDER (folder, name, CRC-32, size).\n"
    "\n"
    "  --keygen SECRET_FILE   make a new signing key in SECRET_FILE (a new file, readable by\n"
    "                         its owner only) and print its public key line (for RQ_TRUSTED_KEYS\n"
    "                         when it is a root key, for the key list when it signs releases)\n"
    "  --root ROOT_SECRET_FILE sign the key list KEY_LIST (written by the operator, see the\n"
    "                         README) with a root key; KEY_LIST is rewritten signed, and copied to\n"
    "                         DIR/PATCHER_KEYS.txt with --content\n"
    "  --renew SECRET_FILE    a new PATCHER_TIMESTAMP.txt for the update in DIR, signed with a\n"
    "                         release or timestamp key of DIR/PATCHER_KEYS.txt\n"
    "  --verify BASE_URL      fetch the release published at BASE_URL as a launcher would (the\n"
    "                         script, its signature, every file, chunk index and compressed\n"
    "                         part) and report every object that is missing or differs\n"
    "\n"
    "options:\n"
    "  -s, --sign SECRET_FILE sign the script: adds each file's SHA-256 and writes\n"
    "                         PATCHER_CODE.LUA.sig beside the script (and into --content); with a\n"
    "                         key list in DIR, the key must be one of its release keys, and\n"
    "                         DIR/PATCHER_TIMESTAMP.txt is written too\n"
    "  -r, --release N        the signed release number (needed with --sign); launchers\n"
    "                         refuse a release lower than the highest they have accepted\n"
    "  -x, --expires DATE     launchers refuse the signed release from DATE (YYYY-MM-DD,\n"
    "                         00:00 UTC) on\n"
    "      --days N           the timestamp's life in days (1 to 31, default 7): launchers refuse\n"
    "                         the update once it is over, so renew it before then\n"
    "  -o, --output FILE      where to write the script (default: ./PATCHER_CODE.LUA)\n"
    "  -d, --delete FILE      deletion list: one relative path per line ('#' starts a comment)\n"
    "  -c, --content DIR      also lay out DIR for a web server: every file at its relative\n"
    "                         path, the script at DIR/PATCHER_CODE.LUA, and (unless --no-delta)\n"
    "                         the script compressed (PATCHER_CODE.LUA.zst) and the compressed\n"
    "                         chunks of every file under DIR/delta/, with which launchers fetch\n"
    "                         only the parts of a file they do not have\n"
    "      --no-delta         whole files only, as launchers without delta updates fetch them\n"
    "  -l, --level N          zstd level of the compressed chunks (1 to 19, default 12)\n"
    "  -j, --threads N        files read and blocks compressed at once (default: every core)\n"
    "  -e, --encoding NAME    cp932 (default; a Japanese Windows reads the script so) or utf8\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this text\n"
    "\n"
    "exit codes: 0 done, 1 bad arguments, 2 names the launcher would refuse (nothing written),\n"
    "            3 a file or folder could not be read or written, 4 --verify found problems\n";

struct Options {
    fs::path gameFolder;
    fs::path output = "PATCHER_CODE.LUA";
    fs::path deleteList;
    fs::path content;
    RQPatchEncoding encoding = RQPatchEncoding::CP932;
    bool bQuiet = false;
    bool bDelta = true;
    int nLevel = RQ_ZSTD_DEFAULT_LEVEL;
    unsigned nThreads = std::max(1u, std::thread::hardware_concurrency());
    fs::path keygen;        // --keygen: make a key and nothing else
    std::string strVerify;  // --verify: check a published release and nothing else
    fs::path rootKey;       // --root: sign the key list named by gameFolder
    fs::path renewKey;      // --renew: a new timestamp for the content folder
    int nDays = RQ_TIMESTAMP_DEFAULT_DAYS;
    fs::path signKey;
    bool bHaveRelease = false;
    RQ_SCRIPT_SIGNATURE signature;  // release and expiry from the command line
};

// The script is compressed once per release, and launchers fetch it at every
// start: the best ratio is worth its second.
constexpr int kScriptZstdLevel = 19;

void PrintError(const std::wstring& strText) {
    std::fprintf(stderr, "mkpatch: %s\n", RQBLWideToUtf8(strText).c_str());
}

int ParseArgs(const std::vector<std::string>& vecArgs, Options& options) {
    bool bHaveFolder = false;
    for (size_t i = 1; i < vecArgs.size(); ++i) {
        const std::string& a = vecArgs[i];
        auto value = [&](fs::path& out) {
            if (i + 1 >= vecArgs.size()) {
                std::fprintf(stderr, "mkpatch: %s needs a value\n", a.c_str());
                return false;
            }
            out = fs::u8path(vecArgs[++i]);
            return true;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (a == "-o" || a == "--output") {
            if (!value(options.output))
                return EXIT_USAGE;
        } else if (a == "-d" || a == "--delete") {
            if (!value(options.deleteList))
                return EXIT_USAGE;
        } else if (a == "-c" || a == "--content") {
            if (!value(options.content))
                return EXIT_USAGE;
        } else if (a == "-e" || a == "--encoding") {
            fs::path name;
            if (!value(name))
                return EXIT_USAGE;
            if (name == "cp932") {
                options.encoding = RQPatchEncoding::CP932;
            } else if (name == "utf8") {
                options.encoding = RQPatchEncoding::UTF8;
            } else {
                std::fprintf(stderr, "mkpatch: unknown encoding %s (cp932 or utf8)\n",
                             name.u8string().c_str());
                return EXIT_USAGE;
            }
        } else if (a == "--verify") {
            fs::path url;
            if (!value(url))
                return EXIT_USAGE;
            options.strVerify = url.u8string();
            if (!options.strVerify.empty() && options.strVerify.back() != '/') {
                options.strVerify += '/';
            }
        } else if (a == "--keygen") {
            if (!value(options.keygen))
                return EXIT_USAGE;
        } else if (a == "--root") {
            if (!value(options.rootKey))
                return EXIT_USAGE;
        } else if (a == "--renew") {
            if (!value(options.renewKey))
                return EXIT_USAGE;
        } else if (a == "--days") {
            fs::path days;
            if (!value(days))
                return EXIT_USAGE;
            const std::string strDays = days.u8string();
            options.nDays = std::atoi(strDays.c_str());
            if (strDays.size() > 2 || options.nDays < 1 || options.nDays > RQ_TIMESTAMP_MAX_DAYS) {
                std::fprintf(stderr, "mkpatch: --days is 1 to %d\n", RQ_TIMESTAMP_MAX_DAYS);
                return EXIT_USAGE;
            }
        } else if (a == "-s" || a == "--sign") {
            if (!value(options.signKey))
                return EXIT_USAGE;
        } else if (a == "-r" || a == "--release") {
            fs::path number;
            if (!value(number))
                return EXIT_USAGE;
            if (!RQParseReleaseNumber(number.u8string(), options.signature.ullRelease)) {
                std::fprintf(stderr, "mkpatch: the release is a whole number without leading zeros: %s\n",
                             number.u8string().c_str());
                return EXIT_USAGE;
            }
            options.bHaveRelease = true;
        } else if (a == "-x" || a == "--expires") {
            fs::path date;
            int64_t nUnix = 0;
            if (!value(date))
                return EXIT_USAGE;
            if (!RQParseUtcDate(date.u8string(), nUnix)) {
                std::fprintf(stderr, "mkpatch: the expiry is a date as YYYY-MM-DD: %s\n",
                             date.u8string().c_str());
                return EXIT_USAGE;
            }
            options.signature.strExpires = date.u8string();
            options.signature.nExpiresUnix = nUnix;
        } else if (a == "-q" || a == "--quiet") {
            options.bQuiet = true;
        } else if (a == "--no-delta") {
            options.bDelta = false;
        } else if (a == "-l" || a == "--level" || a == "-j" || a == "--threads") {
            fs::path number;
            if (!value(number))
                return EXIT_USAGE;
            const bool bLevel = a == "-l" || a == "--level";
            const std::string strNumber = number.u8string();
            const int nValue = strNumber.size() <= 3 && !strNumber.empty() &&
                                       strNumber.find_first_not_of("0123456789") == std::string::npos
                                   ? std::stoi(strNumber)
                                   : 0;
            if (nValue < 1 || nValue > (bLevel ? 19 : 256)) {
                std::fprintf(stderr, "mkpatch: %s takes a number from 1 to %d\n", a.c_str(),
                             bLevel ? 19 : 256);
                return EXIT_USAGE;
            }
            if (bLevel) {
                options.nLevel = nValue;
            } else {
                options.nThreads = static_cast<unsigned>(nValue);
            }
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "mkpatch: unknown option %s\n%s", a.c_str(), kUsage);
            return EXIT_USAGE;
        } else if (bHaveFolder) {
            std::fprintf(stderr, "mkpatch: only one game folder, please\n");
            return EXIT_USAGE;
        } else {
            options.gameFolder = fs::u8path(a);
            bHaveFolder = true;
        }
    }
    if (!options.keygen.empty() && (bHaveFolder || !options.signKey.empty() || options.bHaveRelease)) {
        std::fputs("mkpatch: --keygen makes a key and nothing else\n", stderr);
        return EXIT_USAGE;
    }
    if (!options.keygen.empty() || !options.strVerify.empty()) {
        return EXIT_OK;
    }
    if (!options.rootKey.empty() || !options.renewKey.empty()) {
        const bool bRoot = !options.rootKey.empty();
        if ((bRoot && !options.renewKey.empty()) || !options.signKey.empty() || options.bHaveRelease ||
            (bRoot != bHaveFolder) || (!bRoot && options.content.empty())) {
            std::fputs(
                "mkpatch: --root needs a key list and --renew needs --content; neither goes with "
                "--sign\n",
                stderr);
            return EXIT_USAGE;
        }
        return EXIT_OK;
    }
    if (!bHaveFolder) {
        std::fputs(kUsage, stderr);
        return EXIT_USAGE;
    }
    if (options.signKey.empty() != !options.bHaveRelease ||
        (options.signKey.empty() && !options.signature.strExpires.empty())) {
        std::fputs("mkpatch: --sign needs --release, and --release and --expires need --sign\n", stderr);
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

bool ReadDeleteList(const fs::path& file, std::vector<RQPatchFile>& vecOut) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string strLine;
    while (std::getline(in, strLine)) {
        while (!strLine.empty() &&
               (strLine.back() == '\r' || strLine.back() == ' ' || strLine.back() == '\t')) {
            strLine.pop_back();
        }
        size_t nStart = strLine.find_first_not_of(" \t");
        if (nStart == std::string::npos || strLine[nStart] == '#') {
            continue;
        }
        std::wstring strPath = RQRelativePathText(fs::u8path(strLine.substr(nStart)));
        vecOut.push_back(RQSplitRelativePath(strPath));
    }
    return true;
}

bool WriteFile(const fs::path& file, const std::string& strData) {
    std::error_code ec;
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
    }
    // Written beside the target and renamed, so a web server never serves half a script.
    fs::path temp = file;
    temp += ".mkpatch-tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
        if (!out.flush()) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

// A file of the content folder, or empty when it has none.
std::string ReadOptional(const fs::path& file, size_t nMaxBytes) {
    std::string strBytes;
    rqbl::ReadSmallFile(file.wstring(), nMaxBytes, strBytes);
    return strBytes;
}

// The release numbers launchers take: not below the one published, not
// more than the key list's release-step above it. Only a warning: installs
// that never took the published release may still take this one.
void WarnOfReleaseStep(const Options& options, const std::string& strKeyList) {
    RQ_SCRIPT_SIGNATURE published;
    RQ_KEY_LIST list;
    if (!RQParseScriptSignature(
            ReadOptional(options.content / "PATCHER_CODE.LUA.sig", RQ_SCRIPT_SIGNATURE_MAX_BYTES),
            published)) {
        return;
    }
    const uint64_t ullNew = options.signature.ullRelease;
    if (ullNew < published.ullRelease) {
        std::fprintf(stderr,
                     "mkpatch: warning: release %llu is below the published %llu; launchers that took it "
                     "refuse this one\n",
                     static_cast<unsigned long long>(ullNew),
                     static_cast<unsigned long long>(published.ullRelease));
    } else if (RQParseKeyList(strKeyList, true, list) &&
               ullNew - published.ullRelease > list.ullReleaseStep) {
        std::fprintf(
            stderr,
            "mkpatch: warning: release %llu is more than release-step %llu above the published %llu; "
            "launchers that took that one refuse this one\n",
            static_cast<unsigned long long>(ullNew), static_cast<unsigned long long>(list.ullReleaseStep),
            static_cast<unsigned long long>(published.ullRelease));
    }
}

// PATCHER_CODE.LUA.sig for the script the launcher fetches; NAME.sig for a
// script written under another name.
fs::path SignatureBeside(fs::path script) {
    return script += ".sig";
}

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

int SignKeyList(const Options& options) {
    RQ_SECRET_KEY root{};
    std::wstring strError;
    if (!RQReadSecretKey(options.rootKey, root, strError)) {
        PrintError(strError);
        return EXIT_IO;
    }
    std::string strDraft;
    if (!rqbl::ReadSmallFile(options.gameFolder.wstring(), RQ_KEY_LIST_MAX_BYTES, strDraft)) {
        RQBLWipe(root.data(), root.size());
        PrintError(L"cannot read the key list " + RQRelativePathText(options.gameFolder));
        return EXIT_IO;
    }
    const std::string strPublished =
        options.content.empty() ? std::string()
                                : ReadOptional(options.content / "PATCHER_KEYS.txt", RQ_KEY_LIST_MAX_BYTES);
    std::string strKeyList;
    std::vector<std::wstring> vecNotes;
    const bool bMade = RQMakeKeyList(strDraft, strPublished, root, Now(), strKeyList, strError, vecNotes);
    RQBLWipe(root.data(), root.size());
    for (const std::wstring& strNote : vecNotes) {
        PrintError(L"note: " + strNote);
    }
    if (!bMade) {
        PrintError(strError);
        return EXIT_REFUSED;
    }
    if (!WriteFile(options.gameFolder, strKeyList) ||
        (!options.content.empty() && !WriteFile(options.content / "PATCHER_KEYS.txt", strKeyList))) {
        PrintError(L"cannot write the signed key list");
        return EXIT_IO;
    }
    if (!options.bQuiet) {
        std::fputs(options.content.empty()
                       ? "mkpatch: signed the key list\n"
                       : "mkpatch: signed the key list into the content folder; sign (--sign) or renew "
                         "(--renew) next, so that the timestamp names this list\n",
                   stderr);
    }
    return EXIT_OK;
}

// The timestamp for the update in the content folder, signed with secret.
int WriteTimestamp(const fs::path& content, const RQ_SECRET_KEY& secret, int nDays, bool bQuiet) {
    const std::string strKeyList = ReadOptional(content / "PATCHER_KEYS.txt", RQ_KEY_LIST_MAX_BYTES);
    if (strKeyList.empty()) {
        return EXIT_OK;  // no key list: launchers need no timestamp
    }
    std::string strScript;
    std::string strSignature;
    std::string strTimestamp;
    std::wstring strError;
    if (!rqbl::ReadSmallFile((content / "PATCHER_CODE.LUA").wstring(), RQ_SCRIPT_MAX_BYTES, strScript) ||
        !rqbl::ReadSmallFile((content / "PATCHER_CODE.LUA.sig").wstring(), RQ_SCRIPT_SIGNATURE_MAX_BYTES,
                             strSignature)) {
        PrintError(L"no signed script in the content folder");
        return EXIT_IO;
    }
    if (!RQMakeTimestamp(strScript, strSignature, strKeyList, secret, nDays, Now(), strTimestamp, strError)) {
        PrintError(strError);
        return EXIT_REFUSED;
    }
    if (!WriteFile(content / "PATCHER_TIMESTAMP.txt", strTimestamp)) {
        PrintError(L"cannot write the timestamp into the content folder");
        return EXIT_IO;
    }
    if (!bQuiet) {
        RQ_TIMESTAMP stamp;
        RQParseTimestamp(strTimestamp, stamp);
        std::fprintf(stderr, "mkpatch: timestamp for release %llu, launchers take it until %s (00:00 UTC)\n",
                     static_cast<unsigned long long>(stamp.ullRelease), stamp.strExpires.c_str());
    }
    return EXIT_OK;
}

int RenewTimestamp(const Options& options) {
    RQ_SECRET_KEY secret{};
    std::wstring strError;
    if (!RQReadSecretKey(options.renewKey, secret, strError)) {
        PrintError(strError);
        return EXIT_IO;
    }
    if (ReadOptional(options.content / "PATCHER_KEYS.txt", RQ_KEY_LIST_MAX_BYTES).empty()) {
        RQBLWipe(secret.data(), secret.size());
        PrintError(L"the content folder has no PATCHER_KEYS.txt: launchers need no timestamp");
        return EXIT_REFUSED;
    }
    const int nResult = WriteTimestamp(options.content, secret, options.nDays, options.bQuiet);
    RQBLWipe(secret.data(), secret.size());
    return nResult;
}

int MakeKey(const fs::path& secretFile) {
    RQ_PUBLIC_KEY key{};
    std::wstring strError;
    if (!RQWriteNewSecretKey(secretFile, key, strError)) {
        PrintError(strError);
        return EXIT_IO;
    }
    std::printf("%s\n", RQFormatPublicKey(key).c_str());
    return EXIT_OK;
}

// Writes the script and, for a signed one, its signature file beside it.
bool WriteScript(const fs::path& file, const std::string& strScript, const std::string& strSignature) {
    return WriteFile(file, strScript) &&
           (strSignature.empty() || WriteFile(SignatureBeside(file), strSignature));
}

bool LayOutContent(const Options& options, const std::vector<RQPatchFile>& vecFiles,
                   const std::string& strScript, const std::string& strSignature) {
    std::error_code ec;
    for (const RQPatchFile& file : vecFiles) {
        fs::path relative = fs::u8path(RQBLWideToUtf8(file.strPath + file.strFileName));
        fs::path target = options.content / relative;
        fs::create_directories(target.parent_path(), ec);
        // Removed first: overwrite_existing fails on Windows builds of the
        // standard library when the folder is laid out a second time.
        fs::remove(target, ec);
        if (ec ||
            !fs::copy_file(options.gameFolder / relative, target, fs::copy_options::overwrite_existing, ec)) {
            PrintError(L"cannot copy into the content folder: " + file.strPath + file.strFileName);
            return false;
        }
    }
    if (!WriteScript(options.content / "PATCHER_CODE.LUA", strScript, strSignature)) {
        PrintError(L"cannot write the script into the content folder");
        return false;
    }
    // The script compressed, for launchers with keys (its signature is the
    // plain script's). Without delta objects none is published, and one left
    // by an earlier run would only be an older script: it goes.
    const fs::path compressed = options.content / RQ_COMPRESSED_SCRIPT_FILE;
    if (!options.bDelta) {
        fs::remove(compressed, ec);
        if (ec) {
            PrintError(L"cannot remove the old compressed script from the content folder");
        }
        return !ec;
    }
    std::string strFrame;
    CRQZstdCompressor zstd(kScriptZstdLevel);
    if (!zstd.AppendFrame(reinterpret_cast<const uint8_t*>(strScript.data()), strScript.size(), strFrame) ||
        !WriteFile(compressed, strFrame)) {
        PrintError(L"cannot write the compressed script into the content folder");
        return false;
    }
    return true;
}

// Every file's compressed chunks and index in the content folder; sets each
// file's slot 14.
bool PublishDelta(const Options& options, const RQ_DELTA_PUBLISH_OPTIONS& delta, RQPatchScanResult& scan) {
    CRQDeltaCache cache;
    cache.Load(options.content);
    RQ_DELTA_PUBLISH_STATS stats;
    auto tLast = std::chrono::steady_clock::now();
    for (RQPatchFile& file : scan.vecFiles) {
        if (file.ullFileSize == 0) {
            continue;  // nothing to fetch in parts
        }
        std::wstring strError;
        const fs::path source =
            options.gameFolder / fs::u8path(RQBLWideToUtf8(file.strPath + file.strFileName));
        if (!RQPublishDeltaFile(source, file, options.content, delta, cache, stats, strError)) {
            PrintError(strError);
            return false;
        }
        auto tNow = std::chrono::steady_clock::now();
        if (!options.bQuiet && tNow - tLast >= std::chrono::milliseconds(500)) {
            tLast = tNow;
            std::fprintf(stderr, "\rmkpatch: compressing, %llu of %zu files",
                         static_cast<unsigned long long>(stats.ullFiles), scan.vecFiles.size());
        }
    }
    if (!cache.Save(options.content)) {
        PrintError(L"cannot write the delta cache list (the next run compresses everything again)");
    }
    if (!options.bQuiet) {
        std::fprintf(stderr,
                     "\rmkpatch: delta: %llu files (%llu published before), %.1f MiB compressed to %.1f MiB "
                     "(zst) and %.1f MiB (pack)\n",
                     static_cast<unsigned long long>(stats.ullFiles),
                     static_cast<unsigned long long>(stats.ullReused),
                     static_cast<double>(stats.ullBytesIn) / 1048576.0,
                     static_cast<double>(stats.ullZstBytes) / 1048576.0,
                     static_cast<double>(stats.ullPackBytes) / 1048576.0);
    }
    return true;
}

int VerifyRelease(const Options& options) {
    // Long enough for a busy CDN; a server that sends nothing for it is down.
    constexpr uint32_t kTimeoutMs = 60000;
    auto tLast = std::chrono::steady_clock::now();
    auto fnProgress = [&](uint64_t nDone, uint64_t nTotal) {
        auto tNow = std::chrono::steady_clock::now();
        if (!options.bQuiet && tNow - tLast >= std::chrono::milliseconds(500)) {
            tLast = tNow;
            std::fprintf(stderr, "\rmkpatch: checked %llu of %llu files",
                         static_cast<unsigned long long>(nDone), static_cast<unsigned long long>(nTotal));
        }
    };
    const RQ_RELEASE_CHECK report = RQCheckPublishedRelease(
        RQBLUtf8ToWide(options.strVerify), RQCheckTransports(kTimeoutMs), options.nThreads, fnProgress);
    if (!options.bQuiet) {
        std::fprintf(stderr, "\r");
    }
    if (!report.strSignature.empty()) {
        std::printf("signature: %s\n", RQBLWideToUtf8(report.strSignature).c_str());
    }
    for (const std::wstring& strProblem : report.vecProblems) {
        std::printf("PROBLEM: %s\n", RQBLWideToUtf8(strProblem).c_str());
    }
    std::printf("%llu objects checked (%.1f MiB), %zu problems\n",
                static_cast<unsigned long long>(report.ullObjects),
                static_cast<double>(report.ullBytes) / 1048576.0, report.vecProblems.size());
    return report.vecProblems.empty() ? EXIT_OK : EXIT_PROBLEMS;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int nParse = ParseArgs(RQToolArgsUtf8(argc, argv), options);
    if (nParse != EXIT_OK) {
        return nParse < 0 ? EXIT_OK : nParse;
    }
    if (!options.keygen.empty()) {
        return MakeKey(options.keygen);
    }
    if (!options.strVerify.empty()) {
        return VerifyRelease(options);
    }
    if (!options.rootKey.empty()) {
        return SignKeyList(options);
    }
    if (!options.renewKey.empty()) {
        return RenewTimestamp(options);
    }
    // The key is read first: a wrong key file should not cost a scan of the whole game.
    RQ_SECRET_KEY secret{};
    std::wstring strError;
    if (!options.signKey.empty() && !RQReadSecretKey(options.signKey, secret, strError)) {
        PrintError(strError);
        return EXIT_IO;
    }
    const bool bSign = !options.signKey.empty();
    // With a key list in the content folder, only one of its release keys
    // signs: a launcher would refuse anything else.
    if (bSign && !options.content.empty()) {
        RQ_PUBLIC_KEY key{};
        const std::string strKeyList =
            ReadOptional(options.content / "PATCHER_KEYS.txt", RQ_KEY_LIST_MAX_BYTES);
        if (!RQBLEd25519PublicKey(secret, key) ||
            !RQCheckSigningKey(strKeyList, key, RQKeyRole::RELEASE, Now(), strError)) {
            RQBLWipe(secret.data(), secret.size());
            PrintError(strError);
            return EXIT_REFUSED;
        }
        WarnOfReleaseStep(options, strKeyList);
    }

    auto tLast = std::chrono::steady_clock::now();
    RQPatchProgress progress = [&](size_t nFiles, uint64_t ullBytes) {
        auto tNow = std::chrono::steady_clock::now();
        if (options.bQuiet || tNow - tLast < std::chrono::milliseconds(500)) {
            return;
        }
        tLast = tNow;
        std::fprintf(stderr, "\rmkpatch: %zu files, %.1f MiB", nFiles,
                     static_cast<double>(ullBytes) / 1048576.0);
    };

    // Delta objects go into the content folder: without one there is nowhere
    // to publish them, and the script names none.
    const bool bDelta = options.bDelta && !options.content.empty();
    RQ_DELTA_PUBLISH_OPTIONS delta;
    delta.nLevel = options.nLevel;
    delta.nThreads = options.nThreads;
    RQPatchScanOptions scanOptions;
    scanOptions.bSha256 = bSign;
    scanOptions.pChunkParams = bDelta ? &delta.params : nullptr;
    scanOptions.nThreads = options.nThreads;
    RQPatchScanResult scan;
    if (!RQScanGameFolder(options.gameFolder, progress, scan, strError, scanOptions)) {
        PrintError(strError);
        return EXIT_IO;
    }
    if (!options.bQuiet) {
        std::fprintf(stderr, "\rmkpatch: %zu files, %.1f MiB\n", scan.vecFiles.size(),
                     static_cast<double>(scan.ullTotalBytes) / 1048576.0);
    }
    for (const std::wstring& strName : scan.vecRefusedNames) {
        PrintError(L"the launcher would refuse this name: " + strName);
    }
    for (const std::wstring& strName : scan.vecUnreadable) {
        PrintError(L"cannot read: " + strName);
    }
    if (!scan.vecRefusedNames.empty()) {
        return EXIT_REFUSED;
    }
    if (!scan.vecUnreadable.empty()) {
        return EXIT_IO;
    }

    if (bDelta && !PublishDelta(options, delta, scan)) {
        return EXIT_IO;
    }
    std::vector<RQPatchFile> vecDeletions;
    if (!options.deleteList.empty() && !ReadDeleteList(options.deleteList, vecDeletions)) {
        PrintError(L"cannot read the deletion list: " + RQRelativePathText(options.deleteList));
        return EXIT_IO;
    }
    std::string strScript;
    if (!RQWritePatchScript(scan.vecFiles, vecDeletions, options.encoding, strScript, strError)) {
        PrintError(strError);
        return EXIT_REFUSED;
    }
    std::string strSignature;
    if (bSign) {
        RQ_SCRIPT_SIGNATURE sig = options.signature;
        const bool bSigned = RQSignScript(strScript, secret, sig);
        if (!bSigned) {
            RQBLWipe(secret.data(), secret.size());
            PrintError(L"the script could not be signed");
            return EXIT_IO;
        }
        strSignature = RQFormatScriptSignature(sig);
        if (!sig.strExpires.empty() && sig.nExpiresUnix <= static_cast<int64_t>(std::time(nullptr))) {
            std::fprintf(stderr, "mkpatch: warning: release %llu has expired already; launchers refuse it\n",
                         static_cast<unsigned long long>(sig.ullRelease));
        }
    }
    if (!WriteScript(options.output, strScript, strSignature)) {
        RQBLWipe(secret.data(), secret.size());
        PrintError(L"cannot write " + RQRelativePathText(options.output));
        return EXIT_IO;
    }
    if (!options.content.empty() && !LayOutContent(options, scan.vecFiles, strScript, strSignature)) {
        RQBLWipe(secret.data(), secret.size());
        return EXIT_IO;
    }
    // The timestamp names exactly these files; it is made last.
    if (bSign && !options.content.empty()) {
        const int nResult = WriteTimestamp(options.content, secret, options.nDays, options.bQuiet);
        if (nResult != EXIT_OK) {
            RQBLWipe(secret.data(), secret.size());
            return nResult;
        }
    }
    RQBLWipe(secret.data(), secret.size());
    if (!options.bQuiet) {
        std::fprintf(stderr, "mkpatch: wrote %s%s\n", options.output.u8string().c_str(),
                     bSign ? " and its signature" : "");
    }
    return EXIT_OK;
}
