// Names of the launcher's own files beside a destination. A download is
// written under the destination's name plus a fixed suffix and renamed over
// the destination only when it is complete and checked; a run that is killed
// halfway leaves it behind for the next run to resume. A running program that
// is replaced moves aside under a second suffix.
#pragma once

#include <string>

inline constexpr wchar_t RQBL_DOWNLOAD_TEMP_SUFFIX[] = L".rqpart";
inline constexpr wchar_t RQBL_REPLACED_SUFFIX[] = L".rqold";

std::wstring RQBLDownloadTempPath(const std::wstring& strDestPath);
// True for a name (or path) that ends with either suffix, in any case.
bool RQBLIsDownloadTempName(const std::wstring& strName);
