// Built only when BugTrap itself is linked: it has no place for these values.
#include "baselib/win/bugtrap/RQBTExtras.h"

void RQBT_SetBuildTag(const wchar_t* /*pszBuildTag*/) {}

void RQBT_SetReportSender(const wchar_t* /*pszProgram*/, const wchar_t* /*pszSwitch*/) {}
