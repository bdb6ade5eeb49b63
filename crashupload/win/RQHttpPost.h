// One HTTP POST over a plain socket, with the answer read to the end of the
// connection. Every wait is bounded and gives way to a cancel event, so that a
// launcher that is closing never waits on a slow support server.
#pragma once

#include <windows.h>

#include <string>

#include "crashupload/RQCrashServerUrl.h"
#include "crashupload/RQHttpReply.h"

namespace rqcrash {

// Gives up when nothing moves for this long.
constexpr DWORD kUploadIdleMs = 30000;
// And in any case after this long: a server that trickles is no better.
constexpr DWORD kUploadTotalMs = 120000;

// False when the server could not be reached, the exchange broke off without
// an answer, nothing moved for dwIdleMs, the whole exchange took longer than
// kUploadTotalMs, or hCancel (an event; may be null) was set.
bool HttpPost(const CRQCrashServer& server, const std::string& strContentType, const std::string& strBody,
              HANDLE hCancel, DWORD dwIdleMs, CRQHttpReply& reply);

}  // namespace rqcrash
