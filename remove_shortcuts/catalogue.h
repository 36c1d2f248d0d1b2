// The names remove_shortcuts deletes. The support tool check_shortcuts recognises the suite's
// shortcuts by the same names.
#pragma once

// The subfolder compositions, shared with the installer.
#include "../add_shortcuts/catalogue.h"

struct RemovalEntry {
    const wchar_t* title;
    const wchar_t* subfolderTail;  // follows "\<folder>"
};

// Deleted in this order, all before any folder is examined. add_shortcuts writes all of these
// but the site-information entry, which a site may have added under the same revision.
constexpr RemovalEntry kRemovalCatalogue[] = {
    {L"Vortasim Product Launcher", L"\\"},
    {L"Vortasim", L"\\"},
    {L"Motion", L"\\Utilities\\"},
    {L"Plotview", L"\\Utilities\\"},
    {L"Plotview Site Information", L"\\Utilities\\"},
    {L"KLD_ADMIN", L"\\Utilities\\"},
};

// The Utilities folder examined after the deletions: "\" + folder name + "\Utilities", no
// trailing backslash. Caller frees the result with FreeAndClear.
inline WideBuffer ComposeUtilitiesFolder(const wchar_t* folder) {
    return JoinStrings(3, L"\\", folder, L"\\Utilities");
}
