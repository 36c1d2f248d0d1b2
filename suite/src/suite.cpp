#include "suite/suite.h"

namespace {

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

size_t LevelsBelowRoot(const wchar_t* path) {
    if (!path) return 0;
    const wchar_t* rest = path;  // where the root's own components start
    size_t rootParts = 1;        // a drive
    if (path[0] == L'\\' && path[1] == L'\\') {
        rest = path + 2;
        rootParts = 2;  // a server and a share
        if ((rest[0] == L'?' || rest[0] == L'.') && rest[1] == L'\\') {
            rest += 2;
            rootParts = 1;  // a drive behind the device prefix, unless it is a share's
            if ((rest[0] | 0x20) == L'u' && (rest[1] | 0x20) == L'n' && (rest[2] | 0x20) == L'c' &&
                rest[3] == L'\\') {
                rest += 4;
                rootParts = 2;
            }
        }
    }
    if (rootParts == 1 && !(IsAsciiLetter(rest[0]) && rest[1] == L':' && rest[2] == L'\\')) {
        return 0;
    }

    size_t parts = 0;  // the components from the root's first on, empty ones not counted
    for (const wchar_t* c = rest; *c; ++c) {
        if (*c != L'\\' && (c[1] == L'\\' || c[1] == L'\0')) ++parts;
    }
    return parts > rootParts ? parts - rootParts : 0;
}

bool IsDeepEnoughForInstallRoot(const wchar_t* programPath) {
    return LevelsBelowRoot(programPath) >= static_cast<size_t>(kInstallRootLevels);
}

void RunFromSuiteStart(void (*work)(const wchar_t* root, const wchar_t* folder)) {
    DWORD pathSize = GetModulePath(nullptr, 0);
    WideBuffer program = AllocWideBuffer(pathSize);
    GetModulePath(program, pathSize);
    DWORD rootSize = GetInstallRoot(nullptr, 0);
    WideBuffer root = AllocWideBuffer(rootSize);
    GetInstallRoot(root, rootSize);
    WideBuffer folder = nullptr;

    // A program placed too shallow reads nothing more: its install root would be the root of its
    // drive. An unknown path (too long to fetch) gives no levels and no install root. The release
    // file is read only after these checks, and a folder name that would lead outside the
    // Programs folder stops here too.
    if (IsDeepEnoughForInstallRoot(program) && root[0]) {
        folder = FetchReleaseValue(GetStartMenuFolderName);
        if (IsSafeFolderName(folder)) work(root, folder);
    }

    FreeAndClear(&folder);
    FreeAndClear(&root);
    FreeAndClear(&program);
}
