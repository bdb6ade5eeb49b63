// The signed files that mkpatch lays beside the script: the key list (signed
// with a root key, on the machine that keeps the roots) and the timestamp
// (signed with a release or timestamp key the list names, renewed every few
// days). The formats are the patch format's (patch/RQKeyList.h,
// patch/RQTimestamp.h); these functions check what the launcher would check,
// so that an operator learns of a mistake before players do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLEd25519.h"
#include "patch/RQKeyList.h"

// Signs the operator's key list with the root key. strDraft is the list as the
// operator wrote it (with or without the "root:" and "signature:" lines of an
// earlier signing); strPublished is the key list the content folder holds now
// (empty: none): a list that differs from it needs a higher version. Notes for
// the operator (keys about to expire) go to vecNotes.
bool RQMakeKeyList(const std::string& strDraft, const std::string& strPublished, const RQ_SECRET_KEY& root,
                   int64_t nNow, std::string& strKeyList, std::wstring& strError,
                   std::vector<std::wstring>& vecNotes);

// Whether key may sign in that role under the key list strKeyList (empty: no
// key list, then any key signs releases as the launcher's roots do).
bool RQCheckSigningKey(const std::string& strKeyList, const RQ_PUBLIC_KEY& key, RQKeyRole role, int64_t nNow,
                       std::wstring& strError);

// A timestamp for exactly these files, valid from now until 00:00 UTC nDays
// days ahead. The script's signature must hold and its key must be one the
// list allows for releases.
bool RQMakeTimestamp(const std::string& strScript, const std::string& strSignature,
                     const std::string& strKeyList, const RQ_SECRET_KEY& secret, int nDays, int64_t nNow,
                     std::string& strTimestamp, std::wstring& strError);
