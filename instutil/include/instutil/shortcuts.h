// Start-menu shortcuts: writing and deleting .lnk files, removing emptied Start-menu folders,
// and choosing the Programs folder (all users for an administrator, the user's own otherwise).
//
// Shortcut file names follow one rule on both sides: <title> <revision>.lnk, or <title>.lnk when
// the revision is empty. Subfolders are passed as "\<folder>\" or "\<folder>\Utilities\".
//
// Names that come from a release-information file must stay inside the Programs folder: a
// subfolder with a "." or ".." component or any of / : < > " | ? * or a control character, or a
// title or revision with any of those or a backslash, makes the add or remove do nothing. So does
// a Programs folder that cannot be found.
#pragma once

#include <windows.h>

#include "instutil/paths.h"

// The revision of the fixed-revision variants.
extern const wchar_t kBuiltInRevision[];  // "18.1"

// Result of RemoveFolderIfNoFiles when the folder still lists a file (ERROR_FILE_EXISTS).
constexpr int kFolderHoldsFiles = 80;

// Nonzero when the calling thread's token (or, without one, the process's) passes an access
// check against the local Administrators group; 0 otherwise and on any failure.
BOOL IsAdministrator();

// The Programs folder that suits the caller's rights, by the size query: with no buffer and
// capacity 0 the capacity needed; with a buffer of at least that capacity the path and 0; with a
// smaller one the empty string and the capacity needed. When the folder cannot be found, the
// size query gives 1 (room for the empty string) and a fill gives E_FAIL with the buffer empty.
int GetProgramsFolder(wchar_t* buffer, DWORD capacity);

// GetProgramsFolder for a given kind of caller: the all-users Programs folder when `allUsers` is
// true, the user's own otherwise. GetProgramsFolder is this with IsAdministrator() as `allUsers`.
// `buffer` stays the caller's.
int GetProgramsFolderFor(bool allUsers, wchar_t* buffer, DWORD capacity);

// The path under which the add and remove operations write and delete a shortcut:
// <programsFolder><subfolder>\<title> <revision>.lnk, or <title>.lnk when the revision is empty.
// `programsFolder` (a Programs folder as GetProgramsFolderFor gives it), `subfolder` ("\<folder>\"
// or "\<folder>\Utilities\"), `title` and `revision` stay the caller's. Null when the subfolder,
// title or revision is refused (IsSafeSubfolder, IsSafeNamePart) or `programsFolder` is null or
// empty. Caller frees the result with FreeAndClear.
WideBuffer ComposeShortcutPath(const wchar_t* programsFolder, const wchar_t* subfolder,
                               const wchar_t* title, const wchar_t* revision);

// Writes one shortcut file, creating its folder with all missing parents. 0 once the file was
// handed to IPersistFile::Save; otherwise the HRESULT of the shell-link step that failed.
HRESULT CreateShortcutFile(const wchar_t* shortcutPath, const wchar_t* target,
                           const wchar_t* arguments, const wchar_t* workingDirectory,
                           const wchar_t* description, const wchar_t* iconFile, int iconIndex,
                           int showCommand);

// Writes <Programs><subfolder>\<title>[ <revision>].lnk pointing at the quoted
// "<targetDirectory><targetFile>", with icon index 0. Always 0.
int AddProgramShortcut(const wchar_t* targetDirectory, const wchar_t* targetFile,
                       const wchar_t* arguments, const wchar_t* iconFile,
                       const wchar_t* workingDirectory, const wchar_t* subfolder,
                       const wchar_t* title, const wchar_t* description, int showCommand,
                       const wchar_t* revision);

// AddProgramShortcut with the revision "18.1", the global release file's revision tag, or the
// local release file's. Always 0.
int AddProgramShortcutFixedRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                    const wchar_t* arguments, const wchar_t* iconFile,
                                    const wchar_t* workingDirectory, const wchar_t* subfolder,
                                    const wchar_t* title, const wchar_t* description,
                                    int showCommand);
int AddProgramShortcutGlobalRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                     const wchar_t* arguments, const wchar_t* iconFile,
                                     const wchar_t* workingDirectory, const wchar_t* subfolder,
                                     const wchar_t* title, const wchar_t* description,
                                     int showCommand);
int AddProgramShortcutLocalRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                    const wchar_t* arguments, const wchar_t* iconFile,
                                    const wchar_t* workingDirectory, const wchar_t* subfolder,
                                    const wchar_t* title, const wchar_t* description,
                                    int showCommand);

// Deletes <Programs><subfolder>\<title>[ <revision>].lnk. With an empty revision it also
// deletes "<title> .lnk", the name earlier releases wrote for an empty revision. Always 0.
int RemoveProgramShortcut(const wchar_t* subfolder, const wchar_t* title, const wchar_t* revision);
int RemoveProgramShortcutGlobalRevision(const wchar_t* subfolder, const wchar_t* title);
int RemoveProgramShortcutFixedRevision(const wchar_t* subfolder, const wchar_t* title);
int RemoveProgramShortcutNoRevision(const wchar_t* subfolder, const wchar_t* title);
int RemoveProgramShortcutLocalRevision(const wchar_t* subfolder, const wchar_t* title);

// Deletes the file named by `path` and the one named by `path` in double quotes. 0 when at
// least one deletion succeeded, E_FAIL when both failed. A plain file at `path` that cannot be
// deleted only because it is marked read-only loses that attribute and is deleted; nothing else
// (a folder, a reparse point, a file with further names) is changed.
HRESULT DeleteFileBothForms(const wchar_t* path);

// Removes the directory `path` when the shell lists no non-folder item in it (hidden items and
// subfolders are not listed; a directory that still holds them is not removed either).
// E_FAIL when the path does not exist; the failing HRESULT when the shell cannot parse, bind or
// list it as a folder; kFolderHoldsFiles when an item was listed; 0 when removal was attempted.
HRESULT RemoveFolderIfNoFiles(const wchar_t* path);

// RemoveFolderIfNoFiles on <Programs><relativePath> ("\<folder>\Utilities"). Always 0.
int RemoveProgramsSubfolder(const wchar_t* relativePath);

// RemoveFolderIfNoFiles on <Programs>\<folderName>. An empty folder name does nothing: the
// Programs folder itself is never removed. Always 0.
int RemoveStartMenuFolder(const wchar_t* folderName);

// Why a name from a release-information file is refused, as the checks below find it.
enum class NameRefusal {
    kNone,           // accepted
    kMissing,        // no name at all (a null pointer)
    kRooted,         // a folder name that starts with a backslash: rooted, or a network share
    kDotComponent,   // a component of dots and blanks only, which Windows reads as "." or ".."
    kForbiddenChar,  // / : < > " | ? *, a control character, or \ in a part of a file name
};

// The first refusal in the name, scanning it from its start. `character` is the refused
// character (kForbiddenChar); `offset` is where that character or the refused component starts
// and `length` the component's length (kDotComponent), both in UTF-16 units.
struct NameCheck {
    NameRefusal refusal = NameRefusal::kNone;
    wchar_t character = 0;
    size_t offset = 0;
    size_t length = 0;
};

// Whether `subfolder` (a path below the Programs folder, as "\<folder>\Utilities\") stays inside
// it: no "." or ".." component (nor one of dots and blanks only), no / : < > " | ? * and no
// control character. Empty components ("\\") are allowed.
NameCheck CheckSubfolder(const wchar_t* subfolder);
// Whether `folderName` is a safe single- or multi-level folder name below the Programs folder:
// CheckSubfolder, and not rooted (no leading backslash).
NameCheck CheckFolderName(const wchar_t* folderName);
// Whether `name` is safe as part of a file name: none of \ / : < > " | ? * and no control
// character.
NameCheck CheckNamePart(const wchar_t* name);

// The same checks as yes or no: true when the check refuses nothing.
bool IsSafeSubfolder(const wchar_t* subfolder);
bool IsSafeFolderName(const wchar_t* folderName);
bool IsSafeNamePart(const wchar_t* name);
