// The files the launcher keeps beside itself in the game folder. A patch
// script comes from the network and must never list one of them: overwriting
// the release record would let an old signed release back in, and the
// records of resumes and verified files would vouch for the wrong bytes.
#pragma once

#include <string>

#include "launcher/RQReleaseState.h"
#include "launcher/RQScriptSignature.h"

inline constexpr wchar_t RQ_SCRIPT_FILE[] = L"PATCHER_CODE.LUA";
// Where unfinished downloads remember where they came from, for a later run.
inline constexpr wchar_t RQ_RESUME_RECORD_FILE[] = L"LAUNCHER_RESUME.DAT";
// Which files were found current, with their facts, for a later run.
inline constexpr wchar_t RQ_VERIFY_RECORD_FILE[] = L"LAUNCHER_VERIFIED.DAT";
// A signed script and its signature arrive under these names, and take their
// own only once they have been checked: a refused script leaves nothing behind.
inline constexpr wchar_t RQ_UNVERIFIED_SCRIPT_FILE[] = L"PATCHER_CODE.LUA.unverified";
inline constexpr wchar_t RQ_UNVERIFIED_SIGNATURE_FILE[] = L"PATCHER_CODE.LUA.sig.unverified";

// True for the name (relative to the game folder, in any case) of one of the
// files above.
bool RQIsLauncherStateFile(const std::wstring& strLocal);

// A whole small file; false when it cannot be read.
bool RQReadFileBytes(const std::wstring& strPath, std::string& strBytes);
