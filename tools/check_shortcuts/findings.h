// What the check finds, as data. Texts are kept as found, whole; only the reports cut and escape
// them for their readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instutil/shortcut_file.h"
#include "instutil/shortcuts.h"

// The release file is not read beyond this many bytes: its values are then unknown.
constexpr uint64_t kReleaseReadLimit = 64ull << 20;

// A value of the release file and the programs' verdict on it.
struct ValueCheck {
    std::wstring value;
    NameCheck check;  // refusal kNone when the programs accept it
};

// How a field of a shortcut compares with the catalogue's.
enum class FieldMatch {
    kSame,           // the same text (paths: case aside)
    kOtherSpelling,  // another spelling (8.3, subst, ...) of the same local file
    kDiffers,
    kNotLocal,  // differs, and names a path that is not local: it was not looked at
};

// One field of a present shortcut beside what the catalogue gives it.
struct FieldCheck {
    const wchar_t* name;  // "target", "arguments", "working directory", "icon", "description"
    std::wstring actual;
    std::wstring expected;
    FieldMatch match = FieldMatch::kSame;
};

struct ShortcutCheck {
    std::wstring path;  // where the programs write it in this Programs folder
    bool present = false;
    bool readable = false;           // loaded as a shortcut
    bool targetExists = false;       // the catalogue's target exists (looked at only when matched)
    std::vector<FieldCheck> fields;  // target first; empty unless readable
};

struct FolderCheck {
    bool allUsers = false;
    bool used = false;  // this account's run uses it
    bool local = true;  // on a local drive; a folder that is not is not looked at
    std::wstring path;  // empty when it cannot be found
    std::vector<ShortcutCheck> shortcuts;  // empty when the programs write nothing
    size_t present = 0;
};

enum class LeftoverKind {
    kOtherFolderAndRevision,
    kOtherFolder,
    kOtherRevision,
    kBlankName,    // "<title> .lnk", the name earlier releases gave without a revision
    kFound,        // a suite shortcut; the current values are unknown, so not judged
    kEmptyFolder,  // a folder of the suite's shape without files: maybe another program's
};

struct Leftover {
    std::wstring path;
    LeftoverKind kind;
    std::wstring folder;    // the suite folder name it lies under (shortcuts)
    std::wstring revision;  // the revision its name carries (shortcuts)
    bool counts = false;    // counted as a problem: a suite shortcut judged against known values
};

enum class ProblemKind {
    kProgramMissing,   // no file at the program's path
    kProgramNotLocal,  // the program's path is not on a local drive: nothing was read
    kPathTooLong,      // count: the path's length
    kWrongDepth,       // count: levels below the root
    kWrongLayout,      // not in KELDA\bin\winx64\<folder> below the root
    kReleaseFileMissing,
    kReleaseFileUnreadable,
    kReleaseFileTooLarge,  // size: its bytes
    kFolderNameRefused,
    kRevisionRefused,
    kFolderNameNotSet,
    kProgramsFolderUnknown,   // allUsers: which one
    kProgramsFolderNotLocal,  // allUsers: which one; path
    kShortcutsMissing,        // count: missing; other: found in the other folder
    kShortcutsInOtherFolder,  // count: found in the folder this account's run does not use
    kShortcutUnreadable,      // path
    kFieldDiffers,            // path, field
    kTargetMissing,           // path, field (the target)
    kLeftovers,               // count
};

struct Problem {
    ProblemKind kind;
    std::wstring path;
    FieldCheck field = {L"", L"", L"", FieldMatch::kSame};
    uint64_t count = 0;
    uint64_t other = 0;
    bool allUsers = false;
};

enum class NoteKind {
    kNotNamedLikeProgram,  // the program is neither add_shortcuts.exe nor remove_shortcuts.exe
    kLimitedToken,         // an administrator running without elevation
    kSearchCut,            // a Programs folder holds more entries than the search looks at
    kEmptyFolders,         // count: empty folders of the suite's shape, listed as leftovers
};

struct Note {
    NoteKind kind;
    uint64_t count = 0;
};

struct Report {
    std::wstring program;  // the full path
    bool programLocal = false;
    bool programFound = false;
    bool tooLong = false;
    size_t levels = 0;             // components from the install root down to the program
    bool layoutOk = false;         // <root>\KELDA\bin\winx64\<folder>\<program>
    std::wstring root;             // empty when unknown
    std::wstring targetDirectory;  // where the shortcuts' targets lie
    std::wstring iconFile;         // the shortcuts' icon
    std::wstring releaseFile;
    bool releaseExists = false;
    bool releaseFound = false;  // opened and read
    bool releaseRead = false;   // looked for its values (false: too large to read)
    uint64_t releaseSize = 0;
    ValueCheck folder;
    ValueCheck revision;
    bool writes = false;  // the programs write and delete shortcuts from this path
    bool administrator = false;
    bool limitedToken = false;
    FolderCheck folders[2];  // all users, per user
    std::vector<Leftover> leftovers;
    bool searchCut = false;
    std::vector<Problem> problems;
    std::vector<Note> notes;
};
