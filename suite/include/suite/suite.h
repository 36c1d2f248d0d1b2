// The suite: what makes the installed suite this suite. Its layout below the install root, the
// catalogue of the Start-menu shortcuts both programs work on, every path composed from them, and
// the start both programs share. add_shortcuts, remove_shortcuts and the support tool
// check_shortcuts take all of these from here.
//
// The layout of an install, below its install root:
//   KELDA\bin\winx64\<folder>\<program>.exe         the two programs, kInstallRootLevels (five)
//                                                   levels below the root
//   KELDA\bin\winx64\<executable>                   the shortcuts' targets (ComposeTargetDirectory)
//   commonfiles\images\VxHub2_iconSet.ico           their icon (ComposeIconFile)
//   commonfiles\globalsettings\relinfo.xml          the release file (ComposeGlobalReleaseFilePath)
//                                                   with the keys kStartMenuFolderNameKey and
//                                                   kRevisionKey
// The library keeps the constants its own functions use where they are: the levels, the release
// file's place and its keys (instutil/paths.h), and the fixed-revision variants' revision
// kBuiltInRevision (instutil/shortcuts.h). This header reaches them through those headers.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <array>
#include <cstddef>

#include "instutil/owners.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"

// The targets' folder below the install root, in two parts: "\KELDA\bin\" and "winx64\".
constexpr wchar_t kBinDirectory[] = L"\\KELDA\\bin\\";
constexpr wchar_t kPlatformDirectory[] = L"winx64\\";
// The shortcuts' icon file below the install root.
constexpr wchar_t kIconFile[] = L"\\commonfiles\\images\\VxHub2_iconSet.ico";
// The shortcuts' working directory, left for the shell to expand when the shortcut starts.
constexpr wchar_t kWorkingDirectory[] = L"%HOMEDRIVE%%HOMEPATH%";

// The subfolder that holds the utilities, below the suite's Start-menu folder.
constexpr wchar_t kUtilitiesName[] = L"Utilities";

namespace suite_detail {

// "\" + `name` + "\", composed when compiling.
template <size_t N>
constexpr std::array<wchar_t, N + 2> Enclose(const wchar_t (&name)[N]) {
    std::array<wchar_t, N + 2> enclosed{};
    enclosed[0] = L'\\';
    for (size_t i = 0; i + 1 < N; ++i) enclosed[i + 1] = name[i];
    enclosed[N] = L'\\';
    return enclosed;
}

}  // namespace suite_detail

// Where an entry's shortcut lies, after "\<folder>": at the top of the suite's folder, or in its
// Utilities ("\Utilities\").
constexpr wchar_t kTopTail[] = L"\\";
constexpr std::array kUtilitiesTail = suite_detail::Enclose(kUtilitiesName);

struct CatalogueEntry {
    const wchar_t* title;
    const wchar_t* description;
    const wchar_t* executable;  // in the targets' folder
    const wchar_t* arguments;
    const wchar_t* subfolderTail;  // kTopTail or kUtilitiesTail
    // Deleted by remove_shortcuts, never written by add_shortcuts (kRemovalOnly).
    bool removalOnly = false;
};
constexpr bool kRemovalOnly = true;

// The suite's shortcuts, in the order remove_shortcuts deletes them. add_shortcuts writes every
// entry but the one marked removal-only, in the same order.
constexpr CatalogueEntry kSuiteCatalogue[] = {
    {L"Vortasim Product Launcher", L"Vortasim Product Launcher", L"vxstart.exe", L"", kTopTail},
    {L"Vortasim", L"Start VSL Now", L"vxstart.exe", L"-runxs", kTopTail},
    {L"Motion", L"KELDA Motion Utility", L"vxmotion.exe", L"", kUtilitiesTail.data()},
    {L"Plotview", L"KELDA Plotview Utility", L"vxplot.exe", L"", kUtilitiesTail.data()},
    // A site may add this one under the same revision; the removal takes it away with the rest.
    {L"Plotview Site Information", L"", L"", L"", kUtilitiesTail.data(), kRemovalOnly},
    {L"KLD_ADMIN", L"KELDA Administration Utility", L"KLD_ADMIN.exe", L"", kUtilitiesTail.data()},
};

namespace suite_detail {

constexpr size_t CountWritten() {
    size_t count = 0;
    for (const CatalogueEntry& entry : kSuiteCatalogue) count += entry.removalOnly ? 0 : 1;
    return count;
}

constexpr std::array<CatalogueEntry, CountWritten()> Written() {
    std::array<CatalogueEntry, CountWritten()> written{};
    size_t at = 0;
    for (const CatalogueEntry& entry : kSuiteCatalogue) {
        if (!entry.removalOnly) written[at++] = entry;
    }
    return written;
}

}  // namespace suite_detail

// What remove_shortcuts needs of an entry: the name it deletes.
struct RemovalEntry {
    const wchar_t* title;
    const wchar_t* subfolderTail;
};

namespace suite_detail {

constexpr std::array<RemovalEntry, std::size(kSuiteCatalogue)> Removed() {
    std::array<RemovalEntry, std::size(kSuiteCatalogue)> removed{};
    for (size_t i = 0; i < removed.size(); ++i) {
        removed[i] = {kSuiteCatalogue[i].title, kSuiteCatalogue[i].subfolderTail};
    }
    return removed;
}

}  // namespace suite_detail

// The shortcuts add_shortcuts writes, in order: the catalogue less its removal-only entry.
constexpr std::array kShortcutCatalogue = suite_detail::Written();
// The shortcuts remove_shortcuts deletes, in order: every entry of the catalogue.
constexpr std::array kRemovalCatalogue = suite_detail::Removed();

// The compositions are inline, so that each program carries only those it calls (the linker keeps
// every function of an object it takes).

// The folder the shortcuts' targets lie in: the install root without a trailing backslash, then
// "\KELDA\bin\winx64\". Caller frees the result with FreeAndClear.
inline WideBuffer ComposeTargetDirectory(const wchar_t* root) {
    WideBuffer rootCopy = JoinStrings(1, root);
    PathRemoveBackslashW(rootCopy);
    WideBuffer targetDirectory = JoinStrings(3, rootCopy, kBinDirectory, kPlatformDirectory);
    FreeAndClear(&rootCopy);
    return targetDirectory;
}

// The shortcuts' icon file below the install root. Caller frees the result with FreeAndClear.
inline WideBuffer ComposeIconFile(const wchar_t* root) {
    return JoinStrings(2, root, kIconFile);
}

// The Start-menu subfolder of an entry: "\" + folder name + the entry's tail ("\" or
// "\Utilities\"). Caller frees the result with FreeAndClear.
inline WideBuffer ComposeSubfolder(const wchar_t* folder, const wchar_t* subfolderTail) {
    return JoinStrings(3, L"\\", folder, subfolderTail);
}

// The Utilities folder that remove_shortcuts examines after its deletions: "\" + folder name +
// "\Utilities", no trailing backslash. Caller frees the result with FreeAndClear.
inline WideBuffer ComposeUtilitiesFolder(const wchar_t* folder) {
    return JoinStrings(4, L"\\", folder, L"\\", kUtilitiesName);
}

// The components of `path` below its root, empty ones not counted. The root is a drive ("C:\") or
// a share ("\\server\share\"), also behind a device prefix ("\\?\C:\", "\\?\UNC\server\share\",
// and the same with "\\.\"). A path that starts with none of these (a relative path, a volume
// name such as "\\?\Volume{...}\", an NT path "\??\...") has no levels, as has a null path.
size_t LevelsBelowRoot(const wchar_t* path);

// Whether a program at `programPath` lies deep enough for the install root derived from it: at
// least kInstallRootLevels (five) components below its root (LevelsBelowRoot). Exactly five is a
// suite installed at the root of a drive or share. A program placed higher would take that root
// itself as its install root, and with it a release file and targets that anyone who may create
// folders there could have planted.
bool IsDeepEnoughForInstallRoot(const wchar_t* programPath);

// The start both programs share, then their work: fetches the program's path, the install root and
// the Start-menu folder name that the root's release file gives, and calls `work` with the root
// and the folder name. Reads nothing beyond the program's own path, and calls nothing, when the
// program does not lie deep enough (IsDeepEnoughForInstallRoot) or its path is unknown (it could
// not be fetched whole); calls nothing either when the folder name would lead outside the Programs
// folder (IsSafeFolderName). The programs then write and delete nothing.
void RunFromSuiteStart(void (*work)(const wchar_t* root, const wchar_t* folder));
