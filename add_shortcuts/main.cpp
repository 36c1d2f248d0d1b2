// add_shortcuts: creates the suite's Start-menu shortcuts once its files are on disk.
// Takes no arguments, opens no window, reports nothing and always exits with 0.
#include <windows.h>

#include "instutil/dll_search.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"
#include "suite/suite.h"

namespace {

void AddCatalogueEntry(const CatalogueEntry& entry, const wchar_t* root, const wchar_t* folder) {
    WideBuffer targetDirectory = ComposeTargetDirectory(root);
    WideBuffer iconFile = ComposeIconFile(root);
    WideBuffer subfolder = ComposeSubfolder(folder, entry.subfolderTail);

    AddProgramShortcutGlobalRevision(targetDirectory, entry.executable, entry.arguments, iconFile,
                                     kWorkingDirectory, subfolder, entry.title, entry.description,
                                     SW_SHOWNORMAL);

    FreeAndClear(&subfolder);
    FreeAndClear(&iconFile);
    FreeAndClear(&targetDirectory);
}

void AddShortcuts(const wchar_t* root, const wchar_t* folder) {
    for (const CatalogueEntry& entry : kShortcutCatalogue) AddCatalogueEntry(entry, root, folder);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL: none may come from this program's folder or the current
    // directory.
    RestrictDllSearchToSystem();
    RunFromSuiteStart(AddShortcuts);
    return 0;
}
