// The form that carries a crash report to the support server, in the shape
// that Breakpad- and Crashpad-compatible receivers accept: the minidump in
// "upload_file_minidump", the program in "prod" and "ver" (and "build"), and
// every other file of the report as a further file field.
#pragma once

#include <string>
#include <vector>

#include "baselib/RQBLCrashReportInfo.h"
#include "crashupload/RQMultipartBody.h"

struct CRQUploadPart {
    std::string strFileName;  // in the report folder
    std::string strField;
    std::string strContentType;
};

// The files of a report folder that are sent, with their fields: the minidump
// as "upload_file_minidump", the capture as "screenshot", the text report as
// "report", the rest (the logs) as "log_1", "log_2", ... in name order. The
// folder's own bookkeeping (report.ini, consent.txt, sending.lock) stays home.
std::vector<CRQUploadPart> PlanUploadParts(std::vector<std::string> vecFileNames);

// A file's bytes, read by the caller.
struct CRQUploadFile {
    CRQUploadPart part;
    std::string strBytes;
};

// The finished form: the program's fields, then the files in the given order.
void ComposeCrashUpload(const CRQCrashReportInfo& info, std::vector<CRQUploadFile> vecFiles,
                        CRQMultipartBody& body);
