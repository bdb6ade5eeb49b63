// Resource identifiers of the launcher (shared by the .rc file and the code).
#pragma once

#define IDD_RQLAUNCHER_DIALOG 102
#define IDB_BACKGROUND 129
#define IDI_LAUNCHER 130
#define IDC_BACKGROUND 1000
#define IDC_PROGRESS 1001
// Made at run time, over the picture just above the bar.
#define IDC_STATUS 1002
