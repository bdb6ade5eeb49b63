// One HTTP request, its answer delivered to a sink: the network side of a
// download (a GET) or of an upload (a POST), apart from what is done with the
// bytes. An implementation follows redirects, decides which statuses are
// content and reports how a fetch ended; the sink decides where the bytes go
// and whether they are the right ones. Every HTTP connection of the product
// is opened by an implementation of this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct RQBL_FETCH_REQUEST {
    std::wstring strUrl;
    // Set: a POST of strBody with this content type, else a GET. A POST is
    // never redirected (the body would be lost or sent where it was not
    // meant to go), and any 2xx answer is its content.
    std::string strContentType;
    std::string strBody;
    // Non-zero: only the bytes from here on are wanted (a resumed download).
    uint64_t ullRangeStart = 0;
    // Non-zero: only the bytes before this one are wanted (one single range
    // [ullRangeStart, ullRangeEnd), also from 0). A server that ignores
    // ranges answers 200 with the whole file; the sink then picks its range.
    uint64_t ullRangeEnd = 0;
    // With a range: the validator (ETag or Last-Modified) of the response the
    // earlier bytes came from. The server then sends the whole file (200)
    // instead of the rest (206) if the file has changed since.
    std::string strIfRange;
    // Non-zero: no single read larger than this (a bandwidth cap keeps the
    // pieces small, so that progress and stall checks see a steady flow).
    size_t nMaxReadBytes = 0;
};

// The request asks for part of the file (a Range header): only then is 206
// an answer.
inline bool RQBLAsksRange(const RQBL_FETCH_REQUEST& request) {
    return request.ullRangeStart > 0 || request.ullRangeEnd > 0;
}

struct RQBL_RESPONSE_HEAD {
    int nStatus = 0;  // 200, or 206 for the rest of a resumed download
    bool bHasLength = false;
    uint64_t ullLength = 0;      // of this body
    uint64_t ullRangeStart = 0;  // 206: where the body starts in the file
    // ETag, or Last-Modified where the server sends no ETag; empty when neither.
    std::string strValidator;
};

class CRQBLFetchSink {
public:
    virtual ~CRQBLFetchSink() = default;
    // Once, before any data. False refuses the response (the fetch ends as
    // RQBLFetchError::SINK).
    virtual bool OnHead(const RQBL_RESPONSE_HEAD& head) = 0;
    // The body in pieces, in order. False stops the fetch (RQBLFetchError::SINK).
    virtual bool OnData(const uint8_t* pData, size_t nBytes) = 0;
};

enum class RQBLFetchError {
    NONE,
    CONNECT,             // no answer: name, connection, TLS or certificate failure, or a time-out
    STATUS,              // an answer that is not content (a GET: any status but 200, or 206 to a range)
    CUT,                 // the body broke off before its announced length
    TOO_MANY_REDIRECTS,  // more than RQBL_MAX_REDIRECTS
    INSECURE_REDIRECT,   // from https to anything else
    BAD_URL,
    SINK,     // the sink refused the response or its data
    ABORTED,  // Abort() was called
};

inline constexpr int RQBL_MAX_REDIRECTS = 5;

struct RQBL_FETCH_RESULT {
    RQBLFetchError error = RQBLFetchError::NONE;
    int nStatus = 0;             // the last status seen, 0 when none
    uint32_t dwSystemError = 0;  // the system's error code for CONNECT and CUT
    // CONNECT: the server refused or reset the connection before it answered,
    // as a server does that takes no more (rather than one that cannot be
    // found or does not answer in time).
    bool bRefused = false;
    // STATUS: the answer's Retry-After and Date headers as sent; empty when
    // it had none. A busy server says with them when to ask again.
    std::string strRetryAfter;
    std::string strDate;
};

// One fetch at a time per object; Abort may come from any thread.
class CRQBLTransport {
public:
    virtual ~CRQBLTransport() = default;
    virtual RQBL_FETCH_RESULT Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) = 0;
    // Ends the fetch in progress as soon as the system lets it (its result is
    // ABORTED); a later fetch is not affected. Some network calls cannot be
    // interrupted: the fetch may then go on until its own time-out.
    virtual void Abort() = 0;
};

// Short names for the log.
const wchar_t* RQBLFetchErrorName(RQBLFetchError error);
