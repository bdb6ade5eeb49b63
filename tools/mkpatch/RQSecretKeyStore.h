// The operator's secret key file on the operator's disk: made once, readable
// by its owner only, and read back for signing. The file's form is the patch
// format's (patch/RQSecretKeyFile.h).
#pragma once

#include <filesystem>
#include <string>

#include "baselib/RQBLEd25519.h"

// A new key in a new file that only its owner can read; never over an
// existing file. False with strError set when no key was written.
bool RQWriteNewSecretKey(const std::filesystem::path& file, RQ_PUBLIC_KEY& key, std::wstring& strError);

bool RQReadSecretKey(const std::filesystem::path& file, RQ_SECRET_KEY& secret, std::wstring& strError);
