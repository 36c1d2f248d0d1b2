// add_shortcuts: creates the suite's Start-menu shortcuts once its files are on disk.
// Takes no arguments, opens no window, reports nothing and always exits with 0.
#include <windows.h>

#include "instutil/dll_search.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"

#include "catalogue.h"

namespace {

int AddCatalogueEntry(const CatalogueEntry& entry, const wchar_t* root, const wchar_t* folder) {
    WideBuffer targetDirectory = ComposeTargetDirectory(root);
    WideBuffer iconFile = ComposeIconFile(root);
    WideBuffer subfolder = ComposeSubfolder(folder, entry.subfolderTail);

    AddProgramShortcutGlobalRevision(targetDirectory, entry.executable, entry.arguments, iconFile,
                                     kWorkingDirectory, subfolder, entry.title, entry.description,
                                     SW_SHOWNORMAL);

    FreeAndClear(&subfolder);
    FreeAndClear(&iconFile);
    FreeAndClear(&targetDirectory);
    return 0;
}

int AddShortcutsMain(HINSTANCE, HINSTANCE, const wchar_t*, int) {
    WideBuffer folder = FetchReleaseValue(GetStartMenuFolderName);
    DWORD rootSize = GetInstallRoot(nullptr, 0);
    WideBuffer root = AllocWideBuffer(rootSize);
    GetInstallRoot(root, rootSize);

    // An unknown install root (a path too long to fetch) or a folder name that would lead
    // outside the Programs folder writes nothing at all.
    if (root[0] && IsSafeFolderName(folder)) {
        for (const CatalogueEntry& entry : kShortcutCatalogue)
            AddCatalogueEntry(entry, root, folder);
    }

    FreeAndClear(&root);
    FreeAndClear(&folder);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything loads a DLL: none may come from this program's folder or the current
    // directory.
    RestrictDllSearchToSystem();
    return AddShortcutsMain(instance, nullptr, GetCommandLineW(), showCommand);
}
