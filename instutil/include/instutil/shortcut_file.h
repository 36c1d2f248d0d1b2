// Reading a shortcut file back: its fields as the shell gives them, for the support tools and the
// tests. Apart from the shortcuts area, so that a program that only writes and deletes shortcuts
// links none of it (nor the string code it needs).
#pragma once

#include <windows.h>

#include <string>

// The fields of a shortcut file as the shell reads them back. The show command is the one the
// shell link reports, which some shells do not restore from the file.
struct ShortcutFields {
    bool loaded = false;  // the file was loaded as a shortcut
    std::wstring target;  // the raw path, environment variables not expanded
    std::wstring arguments;
    std::wstring workingDirectory;
    std::wstring description;
    std::wstring iconFile;
    int iconIndex = -1;
    int showCommand = -1;
};

// Reads the shortcut file `path` through the shell link's IPersistFile, opened for reading only;
// nothing is resolved, so the shortcut's target is not looked at. S_OK with *fields filled; else
// the HRESULT of the step that failed, with *fields as far as it got (loaded stays false when the
// file could not be loaded). Initialises COM on the calling thread for the rest of the process.
HRESULT ReadShortcutFile(const wchar_t* path, ShortcutFields* fields);
