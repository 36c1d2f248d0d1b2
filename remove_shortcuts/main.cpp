// remove_shortcuts: deletes the suite's Start-menu shortcuts, then its Utilities folder and its
// own Start-menu folder when no files are left in them. Takes no arguments, opens no window,
// reports nothing and always exits with 0.
#include <windows.h>

#include "instutil/dll_search.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"

#include "catalogue.h"

namespace {

int RemoveCatalogueEntry(const RemovalEntry& entry, const wchar_t* folder) {
    WideBuffer subfolder = ComposeSubfolder(folder, entry.subfolderTail);
    RemoveProgramShortcutGlobalRevision(subfolder, entry.title);
    FreeAndClear(&subfolder);
    return 0;
}

int RemoveShortcutsMain(HINSTANCE, HINSTANCE, const wchar_t*, int) {
    WideBuffer folder = FetchReleaseValue(GetStartMenuFolderName);
    DWORD rootSize = GetInstallRoot(nullptr, 0);
    WideBuffer root = AllocWideBuffer(rootSize);
    GetInstallRoot(root, rootSize);

    // An unknown install root (a path too long to fetch) or a folder name that would lead
    // outside the Programs folder deletes nothing at all.
    if (root[0] && IsSafeFolderName(folder)) {
        for (const RemovalEntry& entry : kRemovalCatalogue) RemoveCatalogueEntry(entry, folder);
        // Utilities first, so that an emptied Utilities no longer holds up the suite's folder.
        WideBuffer utilities = ComposeUtilitiesFolder(folder);
        RemoveProgramsSubfolder(utilities);
        FreeAndClear(&utilities);
        RemoveStartMenuFolder(folder);
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
    return RemoveShortcutsMain(instance, nullptr, GetCommandLineW(), showCommand);
}
