// Names of files being downloaded. A download is written beside its
// destination under the destination's name plus a fixed suffix and renamed
// over the destination only when it is complete and checked; a run that is
// killed halfway leaves such a file behind, which the next run sweeps away.
#pragma once

#include <cstddef>
#include <string>

inline constexpr wchar_t RQBL_DOWNLOAD_TEMP_SUFFIX[] = L".rqpart";

std::wstring RQBLDownloadTempPath(const std::wstring& strDestPath);
// True for a name (or path) that ends with the suffix, in any case.
bool RQBLIsDownloadTempName(const std::wstring& strName);
// Removes every leftover download under strRoot, subfolders included
// (symbolic links are not followed). Returns how many were removed.
size_t RQBLSweepDownloadTemps(const std::wstring& strRoot);
