// Relative paths named by the patch script, checked before anything touches
// the disk or the network. The script comes from a server: a path in it must
// not reach outside the game folder, name a device, or hide a second name
// behind characters that Windows drops or refuses.
#pragma once

#include <string>

enum class RQPatchPathError {
    NONE,
    EMPTY,
    ABSOLUTE_PATH,      // starts with a folder separator
    COLON,              // a drive ("C:"), a stream ("a:b") or any other colon
    EMPTY_COMPONENT,    // "a//b", a trailing separator
    DOT_COMPONENT,      // "." or ".."
    DEVICE_NAME,        // CON, PRN, AUX, NUL, COM1-9, LPT1-9, ... with or without extension
    CONTROL_CHARACTER,  // U+0000-U+001F, U+007F-U+009F
    TRAILING_DOT_OR_SPACE,
    INVALID_CHARACTER,  // < > " | ? * (a "?" or "*" would also act as a wildcard in a file search)
    INVALID_UNICODE,    // an unpaired surrogate, or beyond U+10FFFF
    TEMP_NAME,          // ends like the downloader's own unfinished files
};

struct RQ_PATCH_PATH {
    std::wstring strLocal;  // relative to the game folder, with the platform's separator
    std::wstring strUrl;    // "/" between folders, percent-encoded UTF-8, to append to the base URL
};

// Both "/" and "\" separate folders in strRelPath.
RQPatchPathError RQMakePatchPath(const std::wstring& strRelPath, RQ_PATCH_PATH& path);

// The path as it can be shown in a log line: control characters become "?".
std::wstring RQPrintablePath(const std::wstring& strRelPath);
