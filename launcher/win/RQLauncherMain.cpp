#include <windows.h>

#include "launcher/win/RQLauncherApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    theApp.InitInstance();
    return theApp.ExitInstance();
}
