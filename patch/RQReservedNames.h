// The names the launcher keeps to itself in the game folder. A patch script
// comes from the network and must never list one of them: overwriting the
// release record would let an old signed release back in, the records of
// resumes and verified files would vouch for the wrong bytes, and a listed
// ".rqpart" would be taken for an unfinished download. mkpatch refuses them
// for the same reason.
#pragma once

#include <string>

#include "baselib/RQBLFileOps.h"
#include "patch/RQKeyList.h"
#include "patch/RQReleaseState.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQTimestamp.h"

inline constexpr wchar_t RQ_SCRIPT_FILE[] = L"PATCHER_CODE.LUA";
// Where unfinished downloads remember where they came from, for a later run.
inline constexpr wchar_t RQ_RESUME_RECORD_FILE[] = L"LAUNCHER_RESUME.DAT";
// Which files were found current, with their facts, for a later run.
inline constexpr wchar_t RQ_VERIFY_RECORD_FILE[] = L"LAUNCHER_VERIFIED.DAT";
// A signed script and its signature arrive under these names, and take their
// own only once they have been checked: a refused script leaves nothing behind.
inline constexpr wchar_t RQ_UNVERIFIED_SCRIPT_FILE[] = L"PATCHER_CODE.LUA.unverified";
inline constexpr wchar_t RQ_UNVERIFIED_SIGNATURE_FILE[] = L"PATCHER_CODE.LUA.sig.unverified";
inline constexpr wchar_t RQ_UNVERIFIED_KEY_LIST_FILE[] = L"PATCHER_KEYS.txt.unverified";
inline constexpr wchar_t RQ_UNVERIFIED_TIMESTAMP_FILE[] = L"PATCHER_TIMESTAMP.txt.unverified";
// mkpatch publishes the script compressed beside it (a script is mostly
// hashes in hexadecimal: about half the bytes). A launcher with keys asks for
// it first, and for the plain one when it is missing or is not the signed
// script (a server that still has an older one): the signature decides,
// never the name.
inline constexpr wchar_t RQ_COMPRESSED_SCRIPT_FILE[] = L"PATCHER_CODE.LUA.zst";
inline constexpr wchar_t RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE[] = L"PATCHER_CODE.LUA.zst.unverified";
// The game's program, which a launcher with keys starts only once its SHA-256
// is the signed one.
inline constexpr wchar_t RQ_GAME_FILE[] = L"TOLVANE.EXE";

// A download is written under the destination's name plus this suffix and
// renamed over the destination only when it is complete and checked; a run
// that is killed halfway leaves it behind for the next run to resume.
inline constexpr const wchar_t* RQ_DOWNLOAD_TEMP_SUFFIX = RQBL_TEMP_SUFFIX;
// A running program that is replaced moves aside under this suffix.
inline constexpr wchar_t RQ_REPLACED_SUFFIX[] = L".rqold";

std::wstring RQDownloadTempPath(const std::wstring& strDestPath);
std::wstring RQReplacedPath(const std::wstring& strDestPath);
// True for a name (or path) that ends with either suffix, in any case.
bool RQIsDownloadTempName(const std::wstring& strName);

// True for the name (relative to the game folder, in any case) of one of the
// launcher's own files above, or of the signed files beside the script.
bool RQIsLauncherStateFile(const std::wstring& strLocal);

// True for the game's program, in any case.
bool RQIsGameFile(const std::wstring& strLocal);
// True for a program or a library (".exe", ".dll", in any case): files that
// run with the rights of the launcher or the game.
bool RQIsExecutableName(const std::wstring& strName);
