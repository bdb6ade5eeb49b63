// Where traced lines go. The launcher's log object is one; a test hands in
// its own to see a module's lines. Whoever logs is given its sink by whoever
// made it: there is no process-wide log to find.
#pragma once

class CRQBLLogSink {
public:
    virtual ~CRQBLLogSink() = default;
    // One traced line: the caller's function tag (not part of the written
    // line), its level 1 to 4, and "<trace number> <message>". Called from
    // any thread.
    virtual void TraceLine(const wchar_t* pszTag, int nLevel, const wchar_t* pszText) = 0;
};

// Takes every line and keeps none: for programs and tests that have no log.
class CRQBLNullLog : public CRQBLLogSink {
public:
    void TraceLine(const wchar_t* /*pszTag*/, int /*nLevel*/, const wchar_t* /*pszText*/) override {}
};
