#include "crashupload/RQCrashUploadForm.h"

#include <algorithm>
#include <utility>

#include "baselib/RQBLCrashReportNames.h"

namespace {

std::string LowerAscii(std::string str) {
    for (char& ch : str) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return str;
}

bool Is(const std::string& strName, const char* pszExpected) {
    return LowerAscii(strName) == pszExpected;
}

}  // namespace

std::vector<CRQUploadPart> PlanUploadParts(std::vector<std::string> vecFileNames) {
    std::sort(vecFileNames.begin(), vecFileNames.end());
    std::vector<CRQUploadPart> vecParts;
    std::vector<CRQUploadPart> vecLogs;
    for (const std::string& strName : vecFileNames) {
        if (Is(strName, rqcrash::kReportInfoFile) || Is(strName, rqcrash::kConsentFile) ||
            Is(strName, rqcrash::kSendLockFile)) {
            continue;
        }
        if (Is(strName, rqcrash::kMinidumpFile)) {
            vecParts.insert(vecParts.begin(), {strName, "upload_file_minidump", "application/octet-stream"});
        } else if (Is(strName, rqcrash::kCapturePngFile)) {
            vecParts.push_back({strName, "screenshot", "image/png"});
        } else if (Is(strName, rqcrash::kCaptureBmpFile)) {
            vecParts.push_back({strName, "screenshot", "image/bmp"});
        } else if (Is(strName, rqcrash::kTextReportFile)) {
            vecParts.push_back({strName, "report", "text/plain; charset=utf-8"});
        } else {
            vecLogs.push_back(
                {strName, "log_" + std::to_string(vecLogs.size() + 1), "application/octet-stream"});
        }
    }
    vecParts.insert(vecParts.end(), vecLogs.begin(), vecLogs.end());
    return vecParts;
}

void ComposeCrashUpload(const CRQCrashReportInfo& info, std::vector<CRQUploadFile> vecFiles,
                        CRQMultipartBody& body) {
    body.AddField("prod", info.strProduct);
    body.AddField("ver", info.strVersion);
    body.AddField("build", info.strBuild);
    for (CRQUploadFile& file : vecFiles) {
        body.AddFile(file.part.strField, file.part.strFileName, file.part.strContentType,
                     std::move(file.strBytes));
    }
    body.Finish();
}
