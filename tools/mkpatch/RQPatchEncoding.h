// Text encodings a patch script can be written in. The launcher reads the
// script's strings in the player's ANSI code page, which is CP932 on a
// Japanese Windows; UTF-8 serves test set-ups whose code page is UTF-8.
#pragma once

#include <string>

enum class RQPatchEncoding { CP932, UTF8 };

// False when the text has a character the encoding cannot hold.
bool RQEncodePatchText(const std::wstring& strText, RQPatchEncoding encoding, std::string& strOut);
