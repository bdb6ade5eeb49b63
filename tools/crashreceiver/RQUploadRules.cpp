#include "tools/crashreceiver/RQUploadRules.h"

namespace {

constexpr size_t kMaxFileNameBytes = 128;
constexpr size_t kMaxFieldNameBytes = 64;
constexpr size_t kMaxFieldValueBytes = 1024;

bool IsValidUtf8(const std::string& str) {
    size_t n = 0;
    while (n < str.size()) {
        unsigned char by = static_cast<unsigned char>(str[n]);
        size_t nMore = 0;
        if (by >= 0xC2 && by <= 0xDF) {
            nMore = 1;
        } else if (by >= 0xE0 && by <= 0xEF) {
            nMore = 2;
        } else if (by >= 0xF0 && by <= 0xF4) {
            nMore = 3;
        } else if (by >= 0x80) {
            return false;
        }
        if (str.size() - n <= nMore) {
            return false;
        }
        for (size_t i = 1; i <= nMore; ++i) {
            if ((static_cast<unsigned char>(str[n + i]) & 0xC0) != 0x80) {
                return false;
            }
        }
        n += nMore + 1;
    }
    return true;
}

}  // namespace

bool IsPlainClientFileName(const std::string& strName) {
    if (strName.empty() || strName.size() > kMaxFileNameBytes || !IsValidUtf8(strName)) {
        return false;
    }
    if (strName.find_first_not_of(". ") == std::string::npos) {
        return false;  // ".", "..", and friends
    }
    for (char ch : strName) {
        unsigned char by = static_cast<unsigned char>(ch);
        if (by < 0x20 || by == 0x7F || ch == '/' || ch == '\\' || ch == ':') {
            return false;
        }
    }
    return true;
}

std::string CheckUpload(const std::vector<CRQFormPart>& vecParts) {
    int nMinidumps = 0;
    for (const CRQFormPart& part : vecParts) {
        if (part.strName.empty() || part.strName.size() > kMaxFieldNameBytes) {
            return "bad field name";
        }
        for (char ch : part.strName) {
            if (ch <= ' ' || ch > '~') {
                return "bad field name";
            }
        }
        if (part.bFile && !IsPlainClientFileName(part.strFileName)) {
            return "hostile file name";
        }
        if (!part.bFile && part.strData.size() > kMaxFieldValueBytes) {
            return "field value too long";
        }
        if (part.strName == kMinidumpField) {
            if (!part.bFile || part.strData.compare(0, 4, "MDMP") != 0) {
                return "upload_file_minidump is not a minidump";
            }
            ++nMinidumps;
        }
    }
    if (nMinidumps != 1) {
        return nMinidumps == 0 ? "no upload_file_minidump" : "more than one upload_file_minidump";
    }
    return std::string();
}
