// Linked into every test program: as soon as the program's own code runs, it creates the file that
// INSTKIT_START_MARK names (a host path, set by cmake/wine-run.sh). A test program that fails
// without that file never ran a line of its own: Wine's start-up of it died, and wine-run.sh
// starts it again.
#include <windows.h>

#include <algorithm>

namespace {

bool MarkStart() {
    char path[MAX_PATH] = "Z:";
    DWORD length = GetEnvironmentVariableA("INSTKIT_START_MARK", path + 2, MAX_PATH - 2);
    if (length == 0 || length >= MAX_PATH - 2) return false;
    std::replace(path, path + 2 + length, '/', '\\');
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

const bool kStartMarked = MarkStart();

}  // namespace
