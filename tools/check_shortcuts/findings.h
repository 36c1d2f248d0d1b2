// What the check finds, as data, and the table of the kinds of finding: each kind's JSON name and
// its sentence. A new kind is one row of that table. Texts are kept as found, whole; only the
// reports cut and escape them for their readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instutil/shortcuts.h"

// The release file is not read beyond this many bytes: its values are then unknown.
constexpr uint64_t kReleaseReadLimit = 64ull << 20;

enum class Severity {
    kProblem,   // the check fails (exit code 1)
    kNote,      // worth knowing, not a fault
    kLeftover,  // something an earlier install or a failed upgrade left; `counts` says whether
                // it is counted as a problem
};

// A kind of finding. In `sentence`, the report fills in the finding's own texts and numbers:
// {path} {count} {other} the finding's path and numbers; {kind} "all-users" or "per-user" and
// {rights} "with" or "without" (administrator rights), both by its allUsers; {value} the release
// file's value, {refusal} why the programs refuse it, {part} and {code} the refused component or
// character and its code point; {field} {actual} {expected} {match} the field compared; {folder}
// {revision} the values a leftover's name carries.
struct FindingKind {
    const char* name;  // the "kind" in the JSON report
    Severity severity;
    const wchar_t* sentence;
};

namespace finding {
constexpr Severity kProblem = Severity::kProblem, kNote = Severity::kNote,
                   kLeftover = Severity::kLeftover;
// clang-format off
inline constexpr FindingKind
    kProgramMissing{"programMissing", kProblem, L"There is no file at the program's path."},
    kProgramNotLocal{"programNotLocal", kProblem, L"The program's path is not on a local drive. The programs run from a local install; this tool opens no network or device path, so nothing was read."},
    kPathTooLong{"programPathTooLong", kProblem, L"The program's path has {count} characters; the programs cannot use a path of {other} or more: the install root is unknown to them and they write and delete nothing."},
    kTooShallow{"tooShallow", kProblem, L"The program lies {count} levels below the drive root {path}, fewer than {other}: from there the programs do nothing at all. They would take the drive root as the install root, and any user may create folders at a drive's root, so they read no relinfo.xml and write and delete nothing."},
    kWrongLayout{"programWrongLayout", kProblem, L"The program does not lie in a folder of {path}, where the shortcuts' targets are looked for."},
    kReleaseFileMissing{"releaseFileMissing", kProblem, L"relinfo.xml is not there: the programs read no folder name and no revision, and put the shortcuts at the top of the Programs folder and its Utilities folder, named by their titles alone."},
    kReleaseFileUnreadable{"releaseFileUnreadable", kProblem, L"relinfo.xml cannot be opened for reading: the programs read no folder name and no revision, and put the shortcuts at the top of the Programs folder and its Utilities folder, named by their titles alone."},
    kReleaseFileTooLarge{"releaseFileTooLarge", kProblem, L"relinfo.xml holds {count} bytes; this tool reads no more than {other}, so its values are unknown. The programs read it whole (its size as a 32-bit count) into one allocation; where that fails, as it does for a file of a gigabyte or more, they end with exit code 3 and write and delete nothing."},
    kFolderNameRefused{"folderNameRefused", kProblem, L"The programs refuse the folder name {value}: {refusal}; a folder name may not hold / : < > \" | ? * or control characters. They write and delete nothing."},
    kRevisionRefused{"revisionRefused", kProblem, L"The programs refuse the revision {value}: {refusal}; a revision may not hold \\ / : < > \" | ? * or control characters. They write and delete nothing."},
    kFolderNameNotSet{"folderNameNotSet", kProblem, L"relinfo.xml sets no startMenuFolderName: the shortcuts go to the top of the Programs folder."},
    kProgramsFolderUnknown{"programsFolderUnknown", kProblem, L"The {kind} Programs folder cannot be found: the programs write and delete nothing."},
    kProgramsFolderNotLocal{"programsFolderNotLocal", kProblem, L"The {kind} Programs folder, {path}, is not on a local drive; this tool does not look into it."},
    kShortcutsMissing{"shortcutsMissing", kProblem, L"{count} of the {other} shortcuts are missing from the {kind} Programs folder, the one this account's run of add_shortcuts and remove_shortcuts uses."},
    kShortcutsInOtherFolder{"shortcutsInOtherFolder", kProblem, L"The {kind} Programs folder holds {count} of the shortcuts, written by a run {rights} administrator rights; this account's runs do not look there, and its remove_shortcuts leaves them."},
    kShortcutUnreadable{"shortcutUnreadable", kProblem, L"{path} cannot be read as a shortcut."},
    kFieldDiffers{"fieldDiffers", kProblem, L"{path} has the {field} {actual} ({match}: {expected})."},
    kTargetMissing{"targetMissing", kProblem, L"{path} points at {actual}, which does not exist."},
    kLeftovers{"leftovers", kProblem, L"{count} leftovers of another install or an upgrade (listed under Leftovers); remove_shortcuts with the current relinfo.xml does not delete them."},
    kNotNamedLikeProgram{"programNotNamedAsExpected", kNote, L"The program is not named add_shortcuts.exe or remove_shortcuts.exe; the check assumes it is one of them."},
    kLimitedToken{"runningWithoutElevation", kNote, L"This account runs without its administrator rights now. The programs ask for the highest rights available: started by this account they may run as administrator and use the all-users folder. Run this check elevated to see what they see then."},
    kSearchCut{"leftoverSearchCut", kNote, L"A Programs folder holds more than {count} entries; the search for leftovers stopped there."},
    kEmptyFolders{"emptyFoldersListed", kNote, L"{count} empty folders of the suite's shape are listed under Leftovers. They hold no files and may be another program's: they are not counted as problems."},
    kOtherFolderAndRevision{"otherFolderAndRevision", kLeftover, L"another folder name, {folder}, and revision, {revision}"},
    kOtherFolder{"otherFolder", kLeftover, L"another folder name: {folder}"},
    kOtherRevision{"otherRevision", kLeftover, L"another revision: {revision}"},
    kBlankName{"blankName", kLeftover, L"the name earlier releases gave a shortcut without a revision"},
    kSuiteShortcut{"suiteShortcut", kLeftover, L"folder {folder}, revision {revision}"},
    kEmptyFolder{"emptyFolder", kLeftover, L"a folder of the suite's shape without files (it may be another program's)"};
// clang-format on
}  // namespace finding

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
    const wchar_t* name = L"";  // "target", "arguments", "working directory", "icon", ...
    std::wstring actual;
    std::wstring expected;
    FieldMatch match = FieldMatch::kSame;
};

struct Finding {
    const FindingKind* kind = nullptr;
    std::wstring path;
    uint64_t count = 0;
    uint64_t other = 0;
    bool allUsers = false;  // which Programs folder
    ValueCheck value;       // a refused value of the release file
    FieldCheck field;       // fieldDiffers, targetMissing
    std::wstring folder;    // leftover shortcuts: the folder name and revision their names carry
    std::wstring revision;
    bool counts = false;  // leftovers: a suite shortcut judged against known values
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

struct Report {
    std::wstring program;  // the full path
    bool programLocal = false;
    bool programFound = false;
    bool tooLong = false;
    bool tooShallow = false;       // the programs do nothing from this path
    size_t levels = 0;             // components from the install root down to the program
    bool layoutOk = false;         // in the folder of the shortcuts' targets, one level down
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
    bool searchCut = false;
    std::vector<Finding> findings;  // in the order found
};

// Adds a finding of `kind` to the report and returns it, for its details.
Finding& Add(Report* report, const FindingKind& kind, const std::wstring& path = L"",
             uint64_t count = 0, uint64_t other = 0);
// How many findings of `severity` the report holds (leftovers: those that count).
size_t CountOf(const Report& report, Severity severity);
