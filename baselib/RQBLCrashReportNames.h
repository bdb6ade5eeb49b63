// The files of a crash report folder, shared by the crash reporter that writes
// them and by the consent and upload step that reads them. Plain ASCII.
#pragma once

namespace rqcrash {

// Report folders sit under the reports folder as "CrashReport_<date>_<time>_<pid>",
// so that their names sort by age.
constexpr const char* kReportFolderPrefix = "CrashReport_";

constexpr const char* kMinidumpFile = "crash.dmp";
constexpr const char* kTextReportFile = "report.txt";
// What the consent and upload step needs to know about the crashed program.
constexpr const char* kReportInfoFile = "report.ini";
// Written when the player agreed to send the report; nothing is sent without it.
constexpr const char* kConsentFile = "consent.txt";
// Held open, unshared, by the one process that sends the report.
constexpr const char* kSendLockFile = "sending.lock";
constexpr const char* kCapturePngFile = "screen.png";
constexpr const char* kCaptureBmpFile = "screen.bmp";

}  // namespace rqcrash
