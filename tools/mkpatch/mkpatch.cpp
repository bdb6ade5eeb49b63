// mkpatch: the operator's patch tool. Lists every file of a game build
// folder in PATCHER_CODE.LUA and, on request, lays out a content folder
// ready to copy to any web server.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "baselib/RQBLUtf8.h"
#include "tools/common/RQToolArgs.h"
#include "tools/mkpatch/RQPatchScan.h"
#include "tools/mkpatch/RQPatchScript.h"

namespace fs = std::filesystem;

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_USAGE = 1, EXIT_REFUSED = 2, EXIT_IO = 3 };

const char* const kUsage =
    "usage: mkpatch [options] GAME_FOLDER\n"
    "\n"
    "Writes PATCHER_CODE.LUA listing every file of GAME_FOLDER (folder, name, CRC-32, size).\n"
    "\n"
    "options:\n"
    "  -o, --output FILE      where to write the script (default: ./PATCHER_CODE.LUA)\n"
    "  -d, --delete FILE      deletion list: one relative path per line ('#' starts a comment)\n"
    "  -c, --content DIR      also lay out DIR for a web server: every file at its relative\n"
    "                         path, and the script at DIR/PATCHER_CODE.LUA\n"
    "  -e, --encoding NAME    cp932 (default; a Japanese Windows reads the script so) or utf8\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             this text\n"
    "\n"
    "exit codes: 0 done, 1 bad arguments, 2 names the launcher would refuse (nothing written),\n"
    "            3 a file or folder could not be read or written\n";

struct Options {
    fs::path gameFolder;
    fs::path output = "PATCHER_CODE.LUA";
    fs::path deleteList;
    fs::path content;
    RQPatchEncoding encoding = RQPatchEncoding::CP932;
    bool bQuiet = false;
};

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
        } else if (a == "-q" || a == "--quiet") {
            options.bQuiet = true;
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
    if (!bHaveFolder) {
        std::fputs(kUsage, stderr);
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

bool LayOutContent(const Options& options, const std::vector<RQPatchFile>& vecFiles,
                   const std::string& strScript) {
    std::error_code ec;
    for (const RQPatchFile& file : vecFiles) {
        fs::path relative = fs::u8path(RQBLWideToUtf8(file.strPath + file.strFileName));
        fs::path target = options.content / relative;
        fs::create_directories(target.parent_path(), ec);
        if (ec ||
            !fs::copy_file(options.gameFolder / relative, target, fs::copy_options::overwrite_existing, ec)) {
            PrintError(L"cannot copy into the content folder: " + file.strPath + file.strFileName);
            return false;
        }
    }
    return WriteFile(options.content / "PATCHER_CODE.LUA", strScript);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int nParse = ParseArgs(RQToolArgsUtf8(argc, argv), options);
    if (nParse != EXIT_OK) {
        return nParse < 0 ? EXIT_OK : nParse;
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

    RQPatchScanResult scan;
    std::wstring strError;
    if (!RQScanGameFolder(options.gameFolder, progress, scan, strError)) {
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
    if (!WriteFile(options.output, strScript)) {
        PrintError(L"cannot write " + RQRelativePathText(options.output));
        return EXIT_IO;
    }
    if (!options.content.empty() && !LayOutContent(options, scan.vecFiles, strScript)) {
        return EXIT_IO;
    }
    if (!options.bQuiet) {
        std::fprintf(stderr, "mkpatch: wrote %s\n", options.output.u8string().c_str());
    }
    return EXIT_OK;
}
