// What the project hands to its own crash reporter beyond the BT_ calls.
// Linked against BugTrap itself, these calls do nothing.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The build tag named in the text report; the caller updates it when it changes.
void RQBT_SetBuildTag(const wchar_t* pszBuildTag);

#ifdef __cplusplus
}
#endif
