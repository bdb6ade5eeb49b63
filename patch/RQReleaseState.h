// The highest signed release this install has accepted, kept in a small file
// beside the launcher so that a server (or someone in between) cannot hand an
// older signed script back. Losing the file only lets older signed releases
// in again, never unsigned ones.
#pragma once

#include <cstdint>
#include <string>

inline constexpr wchar_t RQ_RELEASE_STATE_FILE[] = L"LAUNCHER_RELEASE.DAT";

// 0 when the file is missing, unreadable or not exactly what RQSaveHighestRelease writes.
uint64_t RQLoadHighestRelease(const std::wstring& strPath);

// Written to a temporary file beside strPath and then put in its place, so
// that a crash leaves the old file or the new one. False when either step fails.
bool RQSaveHighestRelease(const std::wstring& strPath, uint64_t ullRelease);
