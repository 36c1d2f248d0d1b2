// The suite's shortcuts as add_shortcuts creates them, and where their targets and icon lie below
// the install root. remove_shortcuts composes its subfolders here too, and the support tool
// check_shortcuts takes the same names, compositions and fields from here.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include "instutil/paths.h"

struct CatalogueEntry {
    const wchar_t* title;
    const wchar_t* description;
    const wchar_t* executable;
    const wchar_t* arguments;
    const wchar_t* subfolderTail;  // follows "\<folder>"
};

// The suite's shortcuts, created in this order. remove_shortcuts deletes the same names.
constexpr CatalogueEntry kShortcutCatalogue[] = {
    {L"Vortasim Product Launcher", L"Vortasim Product Launcher", L"vxstart.exe", L"", L"\\"},
    {L"Vortasim", L"Start VSL Now", L"vxstart.exe", L"-runxs", L"\\"},
    {L"Motion", L"KELDA Motion Utility", L"vxmotion.exe", L"", L"\\Utilities\\"},
    {L"Plotview", L"KELDA Plotview Utility", L"vxplot.exe", L"", L"\\Utilities\\"},
    {L"KLD_ADMIN", L"KELDA Administration Utility", L"KLD_ADMIN.exe", L"", L"\\Utilities\\"},
};

constexpr wchar_t kBinDirectory[] = L"\\KELDA\\bin\\";
constexpr wchar_t kPlatformDirectory[] = L"winx64\\";
constexpr wchar_t kIconFile[] = L"\\commonfiles\\images\\VxHub2_iconSet.ico";
// Left for the shell to expand when the shortcut starts.
constexpr wchar_t kWorkingDirectory[] = L"%HOMEDRIVE%%HOMEPATH%";
// The subfolder that holds the utilities, below the suite's folder.
constexpr wchar_t kUtilitiesName[] = L"Utilities";

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
