#include "tools/logdump/LogDumpApp.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "baselib/log/RQBLLogReader.h"

namespace {

const char kUsage[] =
    "Usage: logdump [--level ERR|NTS|NET|DBG]... [--json] FILE.log...\n"
    "\n"
    "Deciphers the records of the launcher's .log files and prints their lines\n"
    "as UTF-8 text, one line each, without the final CR LF.\n"
    "\n"
    "  --level L   print only lines of level L (ERR, NTS, NET or DBG); may be\n"
    "              repeated or given as a list (--level ERR,NTS)\n"
    "  --json      print one JSON object per line, with the fields\n"
    "              file, offset, level, time and text\n"
    "  -h, --help  print this help\n"
    "\n"
    "With more than one file, each file's lines follow a header \"==> FILE <==\"\n"
    "(text output only). A truncated or damaged record is reported on standard\n"
    "error with its byte offset; the lines before it are printed and reading\n"
    "goes on with the next file.\n"
    "\n"
    "Exit codes:\n"
    "  0  every record of every file was read\n"
    "  1  a file holds a truncated or damaged record\n"
    "  2  bad command line\n"
    "  3  a file could not be read (takes precedence over 1)\n";

struct Options {
    std::vector<std::string> vecLevels;  // empty: every level
    bool bJson = false;
    std::vector<std::string> vecFiles;
};

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
    return s;
}

bool AddLevels(const std::string& strList, Options& opts) {
    size_t nStart = 0;
    while (nStart <= strList.size()) {
        size_t nEnd = strList.find(',', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strList.size();
        }
        const std::string strLevel = Upper(strList.substr(nStart, nEnd - nStart));
        if (strLevel != "ERR" && strLevel != "NTS" && strLevel != "NET" && strLevel != "DBG") {
            return false;
        }
        opts.vecLevels.push_back(strLevel);
        nStart = nEnd + 1;
    }
    return true;
}

// Returns -1 to go on, or the exit code when the run ends here.
int ParseArgs(const std::vector<std::string>& vecArgs, Options& opts, FILE* pOut, FILE* pErr) {
    bool bOptions = true;
    for (size_t i = 0; i < vecArgs.size(); ++i) {
        const std::string& strArg = vecArgs[i];
        if (bOptions && strArg == "--") {
            bOptions = false;
        } else if (bOptions && (strArg == "-h" || strArg == "--help")) {
            std::fputs(kUsage, pOut);
            return LOGDUMP_OK;
        } else if (bOptions && strArg == "--json") {
            opts.bJson = true;
        } else if (bOptions && (strArg == "--level" || strArg.rfind("--level=", 0) == 0)) {
            std::string strValue;
            if (strArg == "--level") {
                if (i + 1 == vecArgs.size()) {
                    std::fputs("logdump: --level needs a value (ERR, NTS, NET or DBG)\n", pErr);
                    return LOGDUMP_USAGE;
                }
                strValue = vecArgs[++i];
            } else {
                strValue = strArg.substr(8);
            }
            if (!AddLevels(strValue, opts)) {
                std::fprintf(pErr, "logdump: unknown level '%s' (use ERR, NTS, NET or DBG)\n",
                             strValue.c_str());
                return LOGDUMP_USAGE;
            }
        } else if (bOptions && strArg.size() > 1 && strArg[0] == '-') {
            std::fprintf(pErr, "logdump: unknown option '%s' (try --help)\n", strArg.c_str());
            return LOGDUMP_USAGE;
        } else {
            opts.vecFiles.push_back(strArg);
        }
    }
    if (opts.vecFiles.empty()) {
        std::fputs("logdump: no .log file given (try --help)\n", pErr);
        return LOGDUMP_USAGE;
    }
    return -1;
}

bool ReadFile(const std::string& strName, std::vector<uint8_t>& vecData) {
    // u8path: the names arrive as UTF-8 on every platform.
    std::ifstream in(std::filesystem::u8path(strName), std::ios::binary);
    if (!in) {
        return false;
    }
    vecData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    char sz[8];
                    std::snprintf(sz, sizeof(sz), "\\u%04x", u);
                    out += sz;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

void PrintRecord(const Options& opts, const std::string& strFile, const RQBL_LOG_RECORD& record, FILE* pOut) {
    const std::string strLine = RQBLUtf16ToUtf8(record.strLine);
    RQBL_LOG_LINE_PARTS parts;
    RQBLSplitLogLine(strLine, parts);
    if (!opts.vecLevels.empty() &&
        std::find(opts.vecLevels.begin(), opts.vecLevels.end(), parts.strLevel) == opts.vecLevels.end()) {
        return;
    }
    std::string strOut;
    if (opts.bJson) {
        strOut = "{\"file\":" + JsonString(strFile) + ",\"offset\":" + std::to_string(record.nOffset) +
                 ",\"level\":" + JsonString(parts.strLevel) + ",\"time\":" + JsonString(parts.strTime) +
                 ",\"text\":" + JsonString(parts.strText) + "}\n";
    } else {
        strOut = RQBLStripLineEnd(strLine) + "\n";
    }
    std::fwrite(strOut.data(), 1, strOut.size(), pOut);
}

}  // namespace

int RunLogDump(const std::vector<std::string>& vecArgs, FILE* pOut, FILE* pErr) {
    Options opts;
    const int nParsed = ParseArgs(vecArgs, opts, pOut, pErr);
    if (nParsed >= 0) {
        return nParsed;
    }
    int nExit = LOGDUMP_OK;
    for (const std::string& strFile : opts.vecFiles) {
        std::vector<uint8_t> vecData;
        if (!ReadFile(strFile, vecData)) {
            std::fprintf(pErr, "logdump: %s: cannot read the file\n", strFile.c_str());
            nExit = LOGDUMP_UNREADABLE;
            continue;
        }
        if (!opts.bJson && opts.vecFiles.size() > 1) {
            std::fprintf(pOut, "==> %s <==\n", strFile.c_str());
        }
        const RQBL_LOG_READ_RESULT result = RQBLReadLogRecords(vecData.data(), vecData.size());
        for (const RQBL_LOG_RECORD& record : result.vecRecords) {
            PrintRecord(opts, strFile, record, pOut);
        }
        std::fflush(pOut);
        if (result.nStatus != LOG_READ_OK) {
            std::fprintf(pErr, "logdump: %s: %s record at offset %llu: %s\n", strFile.c_str(),
                         result.nStatus == LOG_READ_TRUNCATED ? "truncated" : "damaged",
                         static_cast<unsigned long long>(result.nBadOffset), result.strReason.c_str());
            nExit = std::max(nExit, static_cast<int>(LOGDUMP_BAD_RECORD));
        }
    }
    std::fflush(pOut);
    return nExit;
}
