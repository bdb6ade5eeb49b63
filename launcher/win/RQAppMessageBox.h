// The application's standard message box: an OK button, the exclamation icon
// and the program's name as caption.
#pragma once

#include <windows.h>

#include <string>

// The executable's file name without its extension ("Launcher" when the
// system cannot say).
std::wstring RQAppTitle();

// Returns once the player has closed the box.
int RQAppMessageBox(HWND hOwner, const std::wstring& strText);
