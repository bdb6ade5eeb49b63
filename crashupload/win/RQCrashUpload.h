// Sending one crash report folder to the support server, and what becomes of
// the folder afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "crashupload/RQHttpReply.h"

namespace rqcrash {

// Gives up when nothing moves for this long.
constexpr DWORD kUploadIdleMs = 30000;
// And in any case after this long: a server that trickles is no better.
constexpr DWORD kUploadTotalMs = 120000;

struct CRQUploadResult {
    ERQUploadOutcome eOutcome = ERQUploadOutcome::RETRY;
    std::string strReportId;  // as the server named it; may be empty
};

// Sends a report that the player agreed to send, and settles it: the folder
// goes once the server has it; it stays, no longer to be sent, when the
// server refused it for good; it stays, to be sent at a later start,
// otherwise. Without the consent record, or while another process sends the
// report, nothing is sent (RETRY). hCancel (an event; may be null) ends the
// upload early.
CRQUploadResult SendConsentedReport(const std::wstring& strFolder, const std::string& strServerUrl,
                                    uint16_t nDefaultPort, HANDLE hCancel);

}  // namespace rqcrash
