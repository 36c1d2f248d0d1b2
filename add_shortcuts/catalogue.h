// The suite's shortcuts as add_shortcuts creates them, and where their targets and icon lie below
// the install root. The support tool check_shortcuts looks for the same names and targets.
#pragma once

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
