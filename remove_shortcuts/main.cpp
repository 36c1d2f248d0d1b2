// remove_shortcuts: deletes the suite's Start-menu shortcuts, then its Utilities folder and its
// own Start-menu folder when no files are left in them. Takes no arguments, opens no window,
// reports nothing and always exits with 0.
#include <windows.h>

#include "instutil/dll_search.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"
#include "suite/suite.h"

namespace {

void RemoveShortcuts(const wchar_t*, const wchar_t* folder) {
    for (const RemovalEntry& entry : kRemovalCatalogue) {
        WideBuffer subfolder = ComposeSubfolder(folder, entry.subfolderTail);
        RemoveProgramShortcutGlobalRevision(subfolder, entry.title);
        FreeAndClear(&subfolder);
    }
    // Utilities first, so that an emptied Utilities no longer holds up the suite's folder.
    WideBuffer utilities = ComposeUtilitiesFolder(folder);
    RemoveProgramsSubfolder(utilities);
    FreeAndClear(&utilities);
    RemoveStartMenuFolder(folder);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL: none may come from this program's folder or the current
    // directory.
    RestrictDllSearchToSystem();
    RunFromSuiteStart(RemoveShortcuts);
    return 0;
}
