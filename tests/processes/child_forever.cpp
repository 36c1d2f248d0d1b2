// zqproc_forever: never ends on its own.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    for (;;) Sleep(INFINITE);
}
