// Turns one prefixed log line into the record stored in the .log file.
#pragma once

#include <cstdio>
#include <string>

// Appends the record of strLine to pStream. Writes nothing when the record
// cannot be made.
void WriteLogRecord(FILE* pStream, const std::wstring& strLine);
