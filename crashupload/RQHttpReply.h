// The support server's answer to an upload: the status, the report id it
// names, and what that means for the report kept on the player's machine.
#pragma once

#include <string>

// The report id in an accepting answer: the body's first line, trimmed, with a
// "CrashID=" prefix removed (as Breakpad-style receivers answer). Empty unless
// it is 1 to 64 printable ASCII characters without blanks, since the player's
// dialog shows it.
std::string ReportIdFromBody(const std::string& strBody);

enum class ERQUploadOutcome {
    SENT,     // the server has the report
    RETRY,    // no answer, or any other refusal (busy, too many reports, moved): send it again later
    REFUSED,  // the server will never take this report (400, 413 too large, 415, 422)
};

ERQUploadOutcome ClassifyUploadStatus(int nStatus);
