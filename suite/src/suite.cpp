#include "suite/suite.h"

void RunFromSuiteStart(void (*work)(const wchar_t* root, const wchar_t* folder)) {
    WideBuffer folder = FetchReleaseValue(GetStartMenuFolderName);
    DWORD rootSize = GetInstallRoot(nullptr, 0);
    WideBuffer root = AllocWideBuffer(rootSize);
    GetInstallRoot(root, rootSize);

    // An unknown install root (a path too long to fetch) or a folder name that would lead outside
    // the Programs folder: nothing is written or deleted.
    if (root[0] && IsSafeFolderName(folder)) work(root, folder);

    FreeAndClear(&root);
    FreeAndClear(&folder);
}
