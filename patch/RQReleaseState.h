// What this install has accepted, kept in small files beside the launcher so
// that a server (or someone in between) cannot hand older signed files back:
//
//     LAUNCHER_RELEASE.DAT   TOLVANE-RELEASE <highest release>
//                            key: ed25519:<the key that signed it>      (optional)
//     LAUNCHER_KEYS.DAT      TOLVANE-KEYS <highest key list version>
//                            root: ed25519:<the root key that signed it>
//
// Losing a file only lets older signed files in again, never unsigned ones.
// The signers are kept so that an install can recover from a key that signed
// a release (or a key list) far ahead of the real ones: once the key list
// revokes that key (or the launcher no longer has that root), the number it
// signed no longer holds the install back.
#pragma once

#include <cstdint>
#include <string>

#include "baselib/RQBLEd25519.h"
#include "baselib/RQBLFileOps.h"

inline constexpr wchar_t RQ_RELEASE_STATE_FILE[] = L"LAUNCHER_RELEASE.DAT";
inline constexpr wchar_t RQ_KEY_LIST_STATE_FILE[] = L"LAUNCHER_KEYS.DAT";

struct RQ_TRUST_STATE {
    uint64_t ullRelease = 0;
    // The key that signed ullRelease; unknown in records of older launchers.
    bool bHasReleaseKey = false;
    RQ_PUBLIC_KEY releaseKey{};
    // 0: no key list accepted yet (then keyListRoot means nothing).
    uint64_t ullKeyListVersion = 0;
    RQ_PUBLIC_KEY keyListRoot{};

    bool operator==(const RQ_TRUST_STATE& o) const {
        return ullRelease == o.ullRelease && bHasReleaseKey == o.bHasReleaseKey &&
               releaseKey == o.releaseKey && ullKeyListVersion == o.ullKeyListVersion &&
               keyListRoot == o.keyListRoot;
    }
    bool operator!=(const RQ_TRUST_STATE& o) const { return !(*this == o); }
};

// A file that is missing, unreadable or not exactly what the save writes
// counts as nothing accepted (0).
RQ_TRUST_STATE RQLoadTrustState(const std::wstring& strReleasePath, const std::wstring& strKeyListPath);

// Writes the files whose part of the state differs from before, each whole
// under a temporary name and then put in place, so that a crash leaves the
// old file or the new one. The first failure is returned (NONE: all written),
// with the path of the file that could not be written in *pFailedPath.
rqbl::FileError RQSaveTrustState(const std::wstring& strReleasePath, const std::wstring& strKeyListPath,
                                 const RQ_TRUST_STATE& before, const RQ_TRUST_STATE& after,
                                 std::wstring* pFailedPath = nullptr);

// The release record alone: 0 when missing or damaged; saving writes no key.
uint64_t RQLoadHighestRelease(const std::wstring& strPath);
bool RQSaveHighestRelease(const std::wstring& strPath, uint64_t ullRelease);
