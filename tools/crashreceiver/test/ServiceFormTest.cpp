// The launcher's upload, read as a Breakpad/Crashpad-style crash-processing
// service reads it: what such a service requires must be there, in the form
// it expects, for RQ_CRASH_SERVER to point at one instead of this receiver.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crashupload/RQCrashUploadForm.h"
#include "tools/crashreceiver/RQFormData.h"

TEST(ReceiverServiceForm, CarriesWhatCrashProcessingServicesRequire) {
    CRQCrashReportInfo info;
    info.strProduct = "PXPatcher";
    info.strVersion = "ver 0.9a";
    info.strBuild = "RELEASE_JPN_555";
    std::vector<CRQUploadFile> vecFiles;
    for (const CRQUploadPart& part : PlanUploadParts({"report.ini", "screen.png", "crash.dmp", "report.txt",
                                                      "consent.txt", "LAUNCHER_20260101_120000.log"})) {
        vecFiles.push_back({part, part.strField == "upload_file_minidump" ? "MDMP dump" : "bytes"});
    }
    CRQMultipartBody body;
    ComposeCrashUpload(info, vecFiles, body);

    std::string strBoundary;
    ASSERT_TRUE(BoundaryFromContentType(body.ContentType(), strBoundary)) << body.ContentType();
    std::vector<CRQFormPart> vecParts;
    std::string strError;
    ASSERT_TRUE(ParseFormData(body.Body(), strBoundary, 64, vecParts, strError)) << strError;
    std::map<std::string, CRQFormPart> mapByField;
    for (const CRQFormPart& part : vecParts) {
        EXPECT_TRUE(mapByField.emplace(part.strName, part).second) << "two fields named " << part.strName;
    }

    // The minidump: a file part under the name every such service looks for.
    ASSERT_EQ(mapByField.count("upload_file_minidump"), 1u);
    const CRQFormPart& dump = mapByField["upload_file_minidump"];
    EXPECT_TRUE(dump.bFile);
    EXPECT_EQ(dump.strFileName, "crash.dmp");
    EXPECT_EQ(dump.strContentType, "application/octet-stream");
    EXPECT_EQ(dump.strData, "MDMP dump");
    // Product and version: plain text fields, as Breakpad's sender posts them.
    for (const auto& field : {std::make_pair("prod", "PXPatcher"), std::make_pair("ver", "ver 0.9a")}) {
        ASSERT_EQ(mapByField.count(field.first), 1u) << field.first;
        EXPECT_FALSE(mapByField[field.first].bFile) << field.first;
        EXPECT_TRUE(mapByField[field.first].strContentType.empty()) << field.first;
        EXPECT_EQ(mapByField[field.first].strData, field.second);
    }
    // The other files: attachments, each typed; the folder's bookkeeping stays home.
    EXPECT_EQ(mapByField["screenshot"].strContentType, "image/png");
    EXPECT_EQ(mapByField["report"].strContentType, "text/plain; charset=utf-8");
    EXPECT_EQ(mapByField["log_1"].strContentType, "application/octet-stream");
    EXPECT_EQ(vecParts.size(), 7u);  // prod, ver, build and four files: no report.ini, no consent.txt
}
