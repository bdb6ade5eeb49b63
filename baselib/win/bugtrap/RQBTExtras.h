// What the project hands to its own crash reporter beyond the BT_ calls.
// Linked against BugTrap itself, these calls do nothing.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The build tag named in the text report; the caller updates it when it changes.
void RQBT_SetBuildTag(const wchar_t* pszBuildTag);

// The program that asks the player and sends a report: after writing a report,
// the crash reporter starts "<program> <switch> <report folder> <process id>"
// and waits for it to end. Without one, reports stay in their folders.
void RQBT_SetReportSender(const wchar_t* pszProgram, const wchar_t* pszSwitch);

#ifdef __cplusplus
}
#endif
