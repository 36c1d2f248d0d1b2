// Looks up the Programs folder and walks one level up from it, the way an installer of another
// project would. Exits with 0 when the folder exists and sits in the Start Menu.
#include <windows.h>

#include <cwchar>

#include "instutil/paths.h"
#include "instutil/shortcuts.h"

int main() {
    int needed = GetProgramsFolder(nullptr, 0);
    WideBuffer programs = AllocWideBuffer(needed);
    bool found = GetProgramsFolder(programs, needed) == 0 && PathExists(programs) &&
                 (GetFileAttributes(programs) & FILE_ATTRIBUTE_DIRECTORY) != 0;

    WideBuffer parent = JoinStrings(2, programs, L"\\");
    bool cut = RemoveLastPathComponent(parent);
    size_t length = wcslen(parent);
    constexpr wchar_t kStartMenu[] = L"\\Start Menu\\";
    size_t tail = wcslen(kStartMenu);
    bool inStartMenu = cut && length >= tail && _wcsicmp(parent + length - tail, kStartMenu) == 0;

    FreeAndClear(&parent);
    FreeAndClear(&programs);
    return found && inStartMenu ? 0 : 1;
}
