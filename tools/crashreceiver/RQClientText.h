// Text a client sent (a method, a target, a header value, a field, a file
// name), made safe to show an operator in the log or in a report's index.
#pragma once

#include <cstddef>
#include <string>

// Printable ASCII stays as it is; every other byte (a control character, a
// bare line feed, the ESC of a terminal escape sequence, each byte of a UTF-8
// character) and the quote and backslash become "\xNN", so the text cannot end
// its line, forge another or drive the terminal that shows it, and reads back
// the same in every one. Longer text is cut at nMaxBytes of the original and
// marked with "..." after it.
std::string EscapeClientText(const std::string& strText, size_t nMaxBytes = std::string::npos);

// The same, in double quotes: "text" (an empty value shows as "").
std::string QuotedClientText(const std::string& strText, size_t nMaxBytes);
