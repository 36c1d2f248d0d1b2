// Throws what nothing catches, as a failed allocation in the programs would; linked with the
// programs' terminate handler.
#include <windows.h>

#include <new>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    throw std::bad_alloc();
}
