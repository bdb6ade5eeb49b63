// Parts that no later run will resume: the resume record knows every part of
// a larger file that a run left (a closed window, a kill, a failed update),
// and a part whose file a later script no longer lists, or whose file is
// current by then, would otherwise stay on the player's disk for good. Only
// parts the record knows are touched: a ".rqpart" the launcher did not make
// is never removed.
#pragma once

#include <set>
#include <string>

#include "baselib/log/RQBLLogSink.h"

// Removes the parts the record at strRecordPath knows whose destination is
// not in setKeep (the files this run downloads), with their entries; logs
// each. Returns how many went.
size_t RQSweepUnlistedParts(const std::wstring& strRecordPath, const std::set<std::wstring>& setKeep,
                            CRQBLLogSink& log);
