// What this receiver accepts as a crash report, beyond well-formed form data.
#pragma once

#include <string>
#include <vector>

#include "tools/crashreceiver/RQFormData.h"

// The field that carries the minidump in Breakpad- and Crashpad-style uploads.
constexpr const char* kMinidumpField = "upload_file_minidump";

// A client's file name is only ever recorded, never used as a path; still, a
// name that tries to be one (separators, "..", drive letters, control
// characters, invalid UTF-8, over 128 bytes) marks a hostile client.
bool IsPlainClientFileName(const std::string& strName);

// Empty when the parts make a report: exactly one minidump part whose data
// starts with "MDMP", plain file names, field names of at most 64 printable
// ASCII characters, text values of at most 1024 bytes. Else the reason.
std::string CheckUpload(const std::vector<CRQFormPart>& vecParts);
