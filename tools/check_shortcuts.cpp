// check_shortcuts: explains, for whoever supports an install, what add_shortcuts and
// remove_shortcuts make of it. Given the path of an installed add_shortcuts.exe (or
// remove_shortcuts.exe) it reports the install root the programs derive from that path, the two
// values they read from relinfo.xml and whether they refuse them, the Programs folder this
// account's run uses, the suite's five shortcuts in the all-users and in the per-user Programs
// folder, and the shortcuts and empty folders that an earlier install or a failed upgrade left.
//
//   check_shortcuts [--json] PROGRAM
//
// It reads only: files are opened for reading, shortcuts are loaded read-only, nothing is created,
// written or deleted. It takes its rules from instutil and the programs' catalogues, so it cannot
// drift from what they do. Every text that comes from the install (paths, relinfo.xml values,
// shortcut targets) is shown bounded, with control and formatting characters escaped as <U+XXXX>.
//
// Exit code: 0 when the five shortcuts are where this account's run puts them and point at
// existing files of this install, and nothing else is off; 1 when something is off; 2 on a usage
// error (nothing was checked).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "instutil/dll_search.h"
#include "instutil/paths.h"
#include "instutil/shortcuts.h"

#include "add_shortcuts/catalogue.h"
#include "remove_shortcuts/catalogue.h"

namespace {

constexpr size_t kValueShown = 160;     // characters shown of a relinfo.xml value
constexpr size_t kPathShown = 600;      // characters shown of a path
constexpr int kScanDepth = 6;           // folder levels looked through below a Programs folder
constexpr size_t kScanEntries = 20000;  // entries looked at in one Programs folder
constexpr DWORD kShortcutTargetChars = 1024;
constexpr wchar_t kUtilities[] = L"Utilities";

// ---- Showing hostile text

// Characters that never reach the terminal as they are: C0 and C1 controls, DEL, and the format
// characters that hide text or reorder it.
bool IsHiddenChar(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB);
}

std::wstring CodeOf(wchar_t c, bool json) {
    wchar_t code[16];
    swprintf(code, 16, json ? L"\\u%04x" : L"<U+%04X>", static_cast<unsigned>(c));
    return code;
}

// `text` cut to `limit` characters (never between the halves of a pair), hidden characters and
// lone surrogate halves escaped: as <U+XXXX> for a person, where < and " are escaped too so that
// the notation stays unambiguous; as \uXXXX inside a JSON string, with " and \ escaped as JSON
// wants. A longer text ends in "...(N more characters)".
std::wstring Escape(const std::wstring& text, size_t limit, bool json) {
    std::wstring out;
    size_t i = 0;
    for (; i < text.size() && i < limit; ++i) {
        wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            if (i + 1 >= limit) break;
            out += c;
            out += text[++i];
        } else if (IsHiddenChar(c) || (c >= 0xD800 && c <= 0xDFFF)) {
            out += CodeOf(c, json);
        } else if (json && (c == L'"' || c == L'\\')) {
            out += L'\\';
            out += c;
        } else if (!json && (c == L'"' || c == L'<')) {
            out += CodeOf(c, json);
        } else {
            out += c;
        }
    }
    if (i < text.size()) out += L"...(" + std::to_wstring(text.size() - i) + L" more characters)";
    return out;
}

std::wstring Shown(const std::wstring& text, size_t limit = kPathShown) {
    return Escape(text, limit, false);
}
std::wstring Quoted(const std::wstring& text, size_t limit = kValueShown) {
    return L"\"" + Shown(text, limit) + L"\"";
}
std::wstring JsonText(const std::wstring& text, size_t limit = kPathShown) {
    return L"\"" + Escape(text, limit, true) + L"\"";
}

// Writes to standard output: UTF-16 to a console, UTF-8 to a file or pipe.
void Write(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        for (size_t at = 0; at < text.size(); at += 4096) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(4096, text.size() - at));
            WriteConsoleW(out, text.data() + at, chunk, &written, nullptr);
        }
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// ---- What the check finds

struct ValueCheck {
    std::wstring value;
    std::wstring rule;  // why the programs refuse the value; empty when they accept it
};

struct ShortcutCheck {
    std::wstring path;  // where the programs write it in this Programs folder
    bool present = false;
    bool readable = false;  // loaded as a shortcut
    std::wstring target;
    std::wstring expectedTarget;
    bool targetExists = false;
};

struct FolderCheck {
    bool allUsers = false;
    bool used = false;                     // this account's run uses it
    std::wstring path;                     // empty when it cannot be found
    std::vector<ShortcutCheck> shortcuts;  // empty when the programs write nothing
    size_t present = 0;
};

struct Leftover {
    std::wstring path;
    std::wstring why;  // shown text
};

struct Report {
    std::wstring program;  // the full path
    bool programFound = false;
    bool tooLong = false;
    size_t levels = 0;             // components from the install root down to the program
    bool layoutOk = false;         // <root>\KELDA\bin\winx64\<folder>\<program>
    std::wstring root;             // empty when unknown
    std::wstring targetDirectory;  // where the shortcuts' targets lie
    std::wstring releaseFile;
    bool releaseFound = false;
    bool releaseExists = false;
    ValueCheck folder;
    ValueCheck revision;
    bool writes = false;  // the programs write and delete shortcuts from this path
    bool administrator = false;
    bool limitedToken = false;
    FolderCheck folders[2];  // all users, per user
    std::vector<Leftover> leftovers;
    bool scanCut = false;
    std::vector<std::wstring> problems;  // shown text
    std::vector<std::wstring> notes;     // shown text
};

const wchar_t* KindOf(bool allUsers) {
    return allUsers ? L"all-users" : L"per-user";
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The full form of `path` (doubled separators resolved); `path` itself when it has none.
std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(size);
    return full;
}

// `path` below `folder`, without the folder and its separator; `path` when it is not below it.
std::wstring Below(const std::wstring& folder, const std::wstring& path) {
    if (!folder.empty() && StartsWithNoCase(path, folder + L"\\")) {
        return path.substr(folder.size() + 1);
    }
    return path;
}

// `c` named for a message: quoted as shown, and by its code.
std::wstring NameOf(wchar_t c) {
    wchar_t code[16];
    swprintf(code, 16, L" (U+%04X)", static_cast<unsigned>(c));
    return Quoted(std::wstring(1, c)) + code;
}

// The first character of `text` that IsSafeNamePart refuses, `except` aside; 0 when none.
wchar_t RefusedChar(const std::wstring& text, wchar_t except) {
    for (wchar_t c : text) {
        const wchar_t one[2] = {c, L'\0'};
        if (c != except && !IsSafeNamePart(one)) return c;
    }
    return 0;
}

// Why the programs refuse a folder name, in words; empty when IsSafeFolderName accepts it. The
// library's own checks decide, applied to the name's parts to find the one that fails.
std::wstring FolderNameRule(const std::wstring& name) {
    if (IsSafeFolderName(name.c_str())) return L"";
    if (name[0] == L'\\') return L"it starts with \\ (a rooted path or a network share)";
    for (size_t start = 0;;) {
        size_t end = name.find(L'\\', start);
        std::wstring component = name.substr(start, end == std::wstring::npos ? end : end - start);
        if (!IsSafeSubfolder(component.c_str()) && !RefusedChar(component, 0)) {
            return L"it has the component " + Quoted(component) +
                   L"; a component of dots and blanks only leads out of its folder";
        }
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (wchar_t c = RefusedChar(name, L'\\')) {
        return L"it holds " + NameOf(c) +
               L"; a folder name may not hold / : < > \" | ? * or control characters";
    }
    return L"the programs refuse it";
}

// Why the programs refuse a revision, in words; empty when IsSafeNamePart accepts it.
std::wstring RevisionRule(const std::wstring& revision) {
    if (IsSafeNamePart(revision.c_str())) return L"";
    if (wchar_t c = RefusedChar(revision, 0)) {
        return L"it holds " + NameOf(c) +
               L"; a revision may not hold \\ / : < > \" | ? * or control characters";
    }
    return L"the programs refuse it";
}

// A value of the release file, read as the programs read it: the size query, then the fill.
std::wstring ReadValue(const std::wstring& file, const char* key) {
    DWORD needed = static_cast<DWORD>(ReadReleaseValue(file.c_str(), key, nullptr, 0));
    WideBuffer value = AllocWideBuffer(needed);
    ReadReleaseValue(file.c_str(), key, &value, needed);
    std::wstring text = value;
    FreeAndClear(&value);
    return text;
}

void ReleaseInterface(IUnknown* unknown) {
    unknown->Release();
}

// The target of the shortcut file `path`, loaded through the shell link's IPersistFile with
// STGM_READ. False when it cannot be loaded as a shortcut.
bool ReadShortcutTarget(const std::wstring& path, std::wstring* target) {
    IShellLinkW* rawLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&rawLink)))) {
        return false;
    }
    std::unique_ptr<IShellLinkW, decltype(&ReleaseInterface)> link(rawLink, &ReleaseInterface);
    IPersistFile* rawFile = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) {
        return false;
    }
    std::unique_ptr<IPersistFile, decltype(&ReleaseInterface)> file(rawFile, &ReleaseInterface);
    if (FAILED(file->Load(path.c_str(), STGM_READ))) return false;
    std::wstring text(kShortcutTargetChars, L'\0');
    if (FAILED(link->GetPath(&text[0], kShortcutTargetChars, nullptr, SLGP_RAWPATH))) {
        text[0] = L'\0';
    }
    text.resize(wcslen(text.c_str()));
    *target = text;
    return true;
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- The checks, in the order the programs take their steps

void CheckProgramPath(Report* report) {
    const std::wstring& program = report->program;
    report->programFound = IsFile(program);
    if (!report->programFound)
        report->problems.push_back(L"There is no file at the program's path.");
    std::wstring name = program.substr(program.rfind(L'\\') + 1);
    if (!EqualNoCase(name, L"add_shortcuts.exe") && !EqualNoCase(name, L"remove_shortcuts.exe")) {
        report->notes.push_back(
            L"The program is not named add_shortcuts.exe or "
            L"remove_shortcuts.exe; the check assumes it is one of them.");
    }

    report->tooLong = program.size() >= kModulePathChars;
    if (report->tooLong) {
        report->problems.push_back(
            L"The program's path has " + std::to_wstring(program.size()) +
            L" characters; the programs cannot use a path of " + std::to_wstring(kModulePathChars) +
            L" or more: the install root is unknown to them and they write and delete nothing.");
        return;
    }
    // The install root as the programs derive it: the path less its last five components.
    std::vector<wchar_t> root(program.size() + 1);
    StripPathLevels(program.c_str(), root.data());
    report->root = root.data();
    for (size_t at = report->root.size(); at < program.size();) {
        size_t end = program.find(L'\\', at);
        if (end == std::wstring::npos) end = program.size();
        if (end > at) ++report->levels;
        at = end + 1;
    }
    // The folder the shortcuts' targets lie in, composed as add_shortcuts composes it.
    WideBuffer rootCopy = JoinStrings(1, report->root.c_str());
    PathRemoveBackslashW(rootCopy);
    WideBuffer targetDirectory = JoinStrings(3, rootCopy, kBinDirectory, kPlatformDirectory);
    report->targetDirectory = targetDirectory;
    FreeAndClear(&targetDirectory);
    FreeAndClear(&rootCopy);

    report->layoutOk = report->levels == 5 && StartsWithNoCase(program, report->targetDirectory) &&
                       program.find(L'\\', report->targetDirectory.size()) != std::wstring::npos;
    if (report->levels != 5) {
        report->problems.push_back(L"The program lies " + std::to_wstring(report->levels) +
                                   L" levels below " + Quoted(report->root, kPathShown) +
                                   L", not five: the programs take that as the install root.");
    } else if (!report->layoutOk) {
        report->problems.push_back(
            L"The program is not in <root>\\KELDA\\bin\\winx64\\<folder>\\: "
            L"the shortcuts' targets are looked for in " +
            Shown(report->targetDirectory) + L".");
    }
}

void CheckReleaseFile(Report* report) {
    WideBuffer file = ComposeGlobalReleaseFilePath(report->root.c_str());
    report->releaseFile = file;
    FreeAndClear(&file);
    if (report->releaseFile.empty()) return;  // the install root is unknown

    BYTE* content = nullptr;
    ReadWholeFile(report->releaseFile.c_str(), &content, nullptr);
    report->releaseFound = content != nullptr;
    delete[] content;
    report->releaseExists =
        GetFileAttributesW(report->releaseFile.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!report->releaseFound) {
        report->problems.push_back(
            L"relinfo.xml " +
            std::wstring(report->releaseExists ? L"cannot be opened for reading"
                                               : L"is not there") +
            L": the programs read no folder name and no revision, and put the shortcuts at the "
            L"top of the Programs folder and its Utilities folder, named by their titles alone.");
    }

    report->folder.value = ReadValue(report->releaseFile, kStartMenuFolderNameKey);
    report->revision.value = ReadValue(report->releaseFile, kRevisionKey);
    report->folder.rule = FolderNameRule(report->folder.value);
    report->revision.rule = RevisionRule(report->revision.value);
    if (!report->folder.rule.empty()) {
        report->problems.push_back(L"The programs refuse the folder name " +
                                   Quoted(report->folder.value) + L": " + report->folder.rule +
                                   L". They write and delete nothing.");
    }
    if (!report->revision.rule.empty()) {
        report->problems.push_back(L"The programs refuse the revision " +
                                   Quoted(report->revision.value) + L": " + report->revision.rule +
                                   L". They write and delete nothing.");
    }
    if (report->releaseFound && report->folder.value.empty()) {
        report->problems.push_back(
            L"relinfo.xml sets no startMenuFolderName: the shortcuts go to "
            L"the top of the Programs folder.");
    }
    report->writes = report->folder.rule.empty() && report->revision.rule.empty();
}

void CheckAccount(Report* report) {
    report->administrator = IsAdministrator() != FALSE;
    // advapi32.dll is loaded by now, from the system folder. Looked up by name, so that the tool,
    // like the programs, imports only what the loader needs to start it in the ordinary way.
    using GetTokenInformationFunction =
        BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD, DWORD*);
    HMODULE advapi32 = GetModuleHandleW(L"advapi32.dll");
    FARPROC found = advapi32 ? GetProcAddress(advapi32, "GetTokenInformation") : nullptr;
    auto getTokenInformation =
        reinterpret_cast<GetTokenInformationFunction>(reinterpret_cast<void (*)()>(found));
    HANDLE rawToken = nullptr;
    if (getTokenInformation && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        UniqueHandle token = OwnHandle(rawToken);
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        if (getTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size)) {
            report->limitedToken = type == TokenElevationTypeLimited;
        }
    }
    if (report->limitedToken && !report->administrator) {
        report->notes.push_back(
            L"This account runs without its administrator rights now. The programs ask for the "
            L"highest rights available: started by this account they may run as administrator "
            L"and use the all-users folder. Run this check elevated to see what they see then.");
    }
}

void CheckFolder(const Report& report, FolderCheck* folder) {
    int needed = GetProgramsFolderFor(folder->allUsers, nullptr, 0);
    std::vector<wchar_t> path(needed > 0 ? needed : 1, L'\0');
    if (GetProgramsFolderFor(folder->allUsers, path.data(), static_cast<DWORD>(path.size())) == 0) {
        folder->path = path.data();
    }
    if (folder->path.empty() || !report.writes || report.root.empty()) return;

    for (const CatalogueEntry& entry : kShortcutCatalogue) {
        ShortcutCheck shortcut;
        std::wstring subfolder = L"\\" + report.folder.value + entry.subfolderTail;
        WideBuffer composed = ComposeShortcutPath(folder->path.c_str(), subfolder.c_str(),
                                                  entry.title, report.revision.value.c_str());
        if (!composed) continue;
        shortcut.path = FullPath(composed);
        FreeAndClear(&composed);
        shortcut.expectedTarget = report.targetDirectory + entry.executable;
        shortcut.present = IsFile(shortcut.path);
        if (shortcut.present) {
            ++folder->present;
            shortcut.readable = ReadShortcutTarget(shortcut.path, &shortcut.target);
            shortcut.targetExists = !shortcut.target.empty() && IsFile(shortcut.target);
        }
        folder->shortcuts.push_back(shortcut);
    }
}

// Problems with the five shortcuts: missing where this account's run looks, found where it does
// not look, unreadable, or pointing elsewhere.
void JudgeFolders(Report* report) {
    if (!report->writes || report->root.empty()) return;
    const FolderCheck* used = report->folders[0].used ? &report->folders[0] : &report->folders[1];
    const FolderCheck* other =
        used == &report->folders[0] ? &report->folders[1] : &report->folders[0];
    const size_t expected = sizeof(kShortcutCatalogue) / sizeof(kShortcutCatalogue[0]);
    if (used->path.empty()) {
        report->problems.push_back(std::wstring(L"The ") + KindOf(used->allUsers) +
                                   L" Programs folder cannot be found: the programs write and "
                                   L"delete nothing.");
    } else if (used->present < expected) {
        std::wstring text = std::to_wstring(expected - used->present) + L" of the " +
                            std::to_wstring(expected) + L" shortcuts are missing from the " +
                            KindOf(used->allUsers) +
                            L" Programs folder, the one this account's run uses.";
        if (other->present > 0) {
            text += L" " + std::to_wstring(other->present) + L" of them are in the " +
                    KindOf(other->allUsers) + L" folder, where a run " +
                    (other->allUsers ? L"with" : L"without") +
                    L" administrator rights puts them. This account " +
                    (used->allUsers ? L"passes" : L"does not pass") +
                    L" the administrator check, so its run of add_shortcuts or remove_shortcuts "
                    L"looks in the " +
                    KindOf(used->allUsers) + L" folder and does not find them.";
        }
        report->problems.push_back(text);
    } else if (other->present > 0) {
        report->problems.push_back(
            std::wstring(L"The ") + KindOf(other->allUsers) + L" Programs folder also holds " +
            std::to_wstring(other->present) + L" of the shortcuts, written by a run " +
            (other->allUsers ? L"with" : L"without") +
            L" administrator rights; this account's remove_shortcuts would leave them.");
    }
    for (const FolderCheck& folder : report->folders) {
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            if (!shortcut.present) continue;
            std::wstring where = Shown(shortcut.path);
            if (!shortcut.readable) {
                report->problems.push_back(where + L" cannot be read as a shortcut.");
            } else if (!EqualNoCase(shortcut.target, shortcut.expectedTarget)) {
                report->problems.push_back(where + L" points at " + Shown(shortcut.target) +
                                           L", not at this install's " +
                                           Shown(shortcut.expectedTarget) + L".");
            } else if (!shortcut.targetExists) {
                report->problems.push_back(where + L" points at " + Shown(shortcut.target) +
                                           L", which does not exist.");
            }
        }
    }
}

// ---- Leftovers

struct Scan {
    std::wstring programs;
    size_t budget = kScanEntries;
    bool cut = false;
    std::vector<std::wstring> shortcuts;     // .lnk files, relative to the Programs folder
    std::vector<std::wstring> emptyFolders;  // folders without files shaped like the suite's
};

bool IsUtilities(const std::wstring& relative) {
    size_t last = relative.rfind(L'\\');
    return EqualNoCase(last == std::wstring::npos ? relative : relative.substr(last + 1),
                       kUtilities);
}

// Looks through `relative` below the Programs folder (reparse points are not followed). True when
// the folder holds a file at any depth, or was not looked through in full.
bool ScanFolder(const std::wstring& relative, int depth, const std::wstring& suiteFolder,
                Scan* scan) {
    std::wstring folder = relative.empty() ? scan->programs : scan->programs + L"\\" + relative;
    WIN32_FIND_DATAW data;
    HANDLE rawFind = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (rawFind == INVALID_HANDLE_VALUE) return true;
    std::unique_ptr<void, decltype(&::FindClose)> find(rawFind, &::FindClose);
    bool holdsFile = false;
    bool hasUtilities = false;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (scan->budget == 0) {
            scan->cut = true;
            return true;
        }
        --scan->budget;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            holdsFile = true;
            if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), L".lnk")) {
                scan->shortcuts.push_back(child);
            }
            continue;
        }
        hasUtilities = hasUtilities || EqualNoCase(name, kUtilities);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || depth >= kScanDepth ||
            ScanFolder(child, depth + 1, suiteFolder, scan)) {
            holdsFile = true;
        }
    } while (FindNextFileW(find.get(), &data));
    if (!holdsFile && !relative.empty() &&
        (hasUtilities || IsUtilities(relative) || EqualNoCase(relative, suiteFolder))) {
        scan->emptyFolders.push_back(relative);
    }
    return holdsFile;
}

// Whether the shortcut `relative` (below the Programs folder) is one of the suite's, by the names
// the programs write and delete: <title>[ <revision>].lnk at the top of a folder or in its
// Utilities, the longest title that fits; one the installer writes must also start its program.
bool MatchSuiteShortcut(const std::wstring& programs, const std::wstring& relative,
                        std::wstring* folder, std::wstring* revision, bool* blankName) {
    size_t slash = relative.rfind(L'\\');
    std::wstring directory = slash == std::wstring::npos ? L"" : relative.substr(0, slash);
    std::wstring stem = relative.substr(slash == std::wstring::npos ? 0 : slash + 1);
    stem.resize(stem.size() - 4);  // ".lnk"
    const bool inUtilities = IsUtilities(directory);
    const wchar_t* tail = inUtilities ? L"\\Utilities\\" : L"\\";

    const RemovalEntry* match = nullptr;
    for (const RemovalEntry& entry : kRemovalCatalogue) {
        std::wstring title = entry.title;
        if (wcscmp(entry.subfolderTail, tail) != 0) continue;
        if (!EqualNoCase(stem, title) && !StartsWithNoCase(stem, title + L" ")) continue;
        if (!match || title.size() > wcslen(match->title)) match = &entry;
    }
    if (!match) return false;
    for (const CatalogueEntry& entry : kShortcutCatalogue) {
        if (!EqualNoCase(entry.title, match->title) || wcscmp(entry.subfolderTail, tail) != 0) {
            continue;
        }
        std::wstring target;
        if (!ReadShortcutTarget(programs + L"\\" + relative, &target)) return false;
        std::wstring file = target.substr(target.rfind(L'\\') + 1);
        if (!EqualNoCase(file, entry.executable)) return false;
    }
    size_t titleSize = wcslen(match->title);
    *revision = stem.size() > titleSize ? stem.substr(titleSize + 1) : L"";
    *blankName = stem.size() == titleSize + 1;
    if (inUtilities) {
        size_t up = directory.rfind(L'\\');
        directory = up == std::wstring::npos ? L"" : directory.substr(0, up);
    }
    *folder = directory;
    return true;
}

void FindLeftovers(Report* report) {
    for (const FolderCheck& folder : report->folders) {
        if (folder.path.empty()) continue;
        Scan scan;
        scan.programs = folder.path;
        ScanFolder(L"", 0, report->writes ? report->folder.value : L"", &scan);
        report->scanCut = report->scanCut || scan.cut;

        for (const std::wstring& relative : scan.shortcuts) {
            std::wstring suiteFolder;
            std::wstring revision;
            bool blankName = false;
            if (!MatchSuiteShortcut(folder.path, relative, &suiteFolder, &revision, &blankName)) {
                continue;
            }
            const bool sameFolder = EqualNoCase(suiteFolder, report->folder.value);
            const bool sameRevision = EqualNoCase(revision, report->revision.value);
            std::wstring why;
            if (!report->writes) {
                why = L"folder " + Quoted(suiteFolder) + L", revision " + Quoted(revision);
            } else if (blankName) {
                why = L"the name earlier releases gave a shortcut without a revision";
            } else if (!sameFolder && !sameRevision) {
                why = L"another folder name, " + Quoted(suiteFolder) + L", and revision, " +
                      Quoted(revision);
            } else if (!sameFolder) {
                why = L"another folder name: " + Quoted(suiteFolder);
            } else if (!sameRevision) {
                why = L"another revision: " + Quoted(revision);
            } else {
                // One of the five (in either Programs folder, listed there), or another name
                // remove_shortcuts deletes with the current values.
                continue;
            }
            report->leftovers.push_back({folder.path + L"\\" + relative, why});
        }
        // The outermost of nested empty folders stands for them all.
        for (const std::wstring& relative : scan.emptyFolders) {
            bool inner = false;
            for (const std::wstring& other : scan.emptyFolders) {
                inner = inner || (other.size() < relative.size() &&
                                  StartsWithNoCase(relative, other + L"\\"));
            }
            if (!inner) {
                report->leftovers.push_back({folder.path + L"\\" + relative + L"\\",
                                             L"a folder of the suite's shape without files"});
            }
        }
    }
    if (!report->leftovers.empty()) {
        report->problems.push_back(std::to_wstring(report->leftovers.size()) +
                                   L" leftovers of another install or an upgrade (listed under "
                                   L"Leftovers); remove_shortcuts with the current relinfo.xml "
                                   L"does not delete them.");
    }
    if (report->scanCut) {
        report->notes.push_back(L"A Programs folder holds more than " +
                                std::to_wstring(kScanEntries) +
                                L" entries; the search for leftovers stopped there.");
    }
}

// ---- Output

std::wstring PlainReport(const Report& report) {
    std::wstring out =
        L"check_shortcuts: what add_shortcuts and remove_shortcuts make of this "
        L"install\n\nProgram\n  path          " +
        Shown(report.program) + L"\n  file          " +
        (report.programFound ? L"found" : L"not found") + L"\n";
    if (report.tooLong) {
        out += L"  install root  unknown: the path has " + std::to_wstring(report.program.size()) +
               L" characters, the programs use at most " + std::to_wstring(kModulePathChars - 1) +
               L"\n";
    } else {
        out += L"  install root  " + Shown(report.root) +
               L"  (the path less its last five "
               L"components)\n  layout        " +
               (report.layoutOk ? L"usable: " : L"NOT usable: ") + std::to_wstring(report.levels) +
               L" levels below the root, " + (report.layoutOk ? L"in" : L"expected") +
               L" KELDA\\bin\\winx64\\<folder>\\, " + std::to_wstring(report.program.size()) +
               L" characters\n";
    }

    out += L"\nRelease file  " +
           (report.releaseFile.empty() ? L"none (the install root is unknown)"
                                       : Shown(report.releaseFile)) +
           L"\n";
    if (!report.releaseFile.empty()) {
        out += std::wstring(L"  file          ") +
               (report.releaseFound    ? L"found"
                : report.releaseExists ? L"cannot be opened for reading"
                                       : L"NOT FOUND") +
               L"\n";
        for (const auto& value : {std::make_pair(L"folder name", &report.folder),
                                  std::make_pair(L"revision   ", &report.revision)}) {
            out += std::wstring(L"  ") + value.first + L"   " +
                   (value.second->value.empty() ? L"(not set)" : Quoted(value.second->value)) +
                   L"  " +
                   (value.second->rule.empty() ? L"accepted" : L"REFUSED: " + value.second->rule) +
                   L"\n";
        }
    }

    out += std::wstring(L"\nAccount       ") +
           (report.administrator ? L"passes" : L"does not pass") +
           L" the administrator check: its run uses the " + KindOf(report.administrator) +
           L" Programs folder\n";

    for (const FolderCheck& folder : report.folders) {
        out += std::wstring(L"\n") + (folder.allUsers ? L"All-users" : L"Per-user") +
               L" Programs folder  " +
               (folder.path.empty() ? L"(cannot be found)" : Shown(folder.path)) +
               (folder.used ? L"  <- this account's run" : L"") + L"\n";
        if (folder.shortcuts.empty()) {
            out += L"  (not checked: the programs write nothing)\n";
            continue;
        }
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            out += std::wstring(shortcut.present ? L"  present  " : L"  missing  ") +
                   Shown(Below(folder.path, shortcut.path)) + L"\n";
            if (!shortcut.present) continue;
            if (!shortcut.readable) {
                out += L"           cannot be read as a shortcut\n";
                continue;
            }
            out += L"           -> " + Shown(shortcut.target) +
                   (shortcut.targetExists ? L"  (exists)" : L"  (DOES NOT EXIST)") +
                   (EqualNoCase(shortcut.target, shortcut.expectedTarget)
                        ? L""
                        : L"  (not this install's: " + Shown(shortcut.expectedTarget) + L")") +
                   L"\n";
        }
    }

    out += L"\nLeftovers\n";
    if (report.leftovers.empty()) out += L"  none\n";
    for (const Leftover& leftover : report.leftovers) {
        out += L"  " + Shown(leftover.path) + L"\n           " + leftover.why + L"\n";
    }
    for (const std::wstring& note : report.notes) out += L"\nNote: " + note + L"\n";

    if (report.problems.empty()) {
        out +=
            L"\nResult: all well. The five shortcuts are where this account's run puts them "
            L"and point at existing files of this install.\n";
    } else {
        out += L"\nProblems\n";
        for (const std::wstring& problem : report.problems) out += L"  - " + problem + L"\n";
        out += L"\nResult: " + std::to_wstring(report.problems.size()) +
               (report.problems.size() == 1 ? L" problem" : L" problems") + L" (exit code 1)\n";
    }
    return out;
}

std::wstring JsonBool(bool value) {
    return value ? L"true" : L"false";
}

std::wstring JsonValue(const ValueCheck& value) {
    return L"{\"value\": " + JsonText(value.value, kValueShown) + L", \"accepted\": " +
           JsonBool(value.rule.empty()) + L", \"rule\": " +
           (value.rule.empty() ? L"null" : JsonText(value.rule, kPathShown * 2)) + L"}";
}

std::wstring JsonList(const std::vector<std::wstring>& items) {
    std::wstring out = L"[";
    for (size_t i = 0; i < items.size(); ++i) {
        out += (i ? L",\n    " : L"\n    ") + JsonText(items[i], kPathShown * 4);
    }
    return out + (items.empty() ? L"]" : L"\n  ]");
}

std::wstring JsonReport(const Report& report) {
    std::wstring out = L"{\n  \"program\": {\"path\": " + JsonText(report.program) +
                       L", \"found\": " + JsonBool(report.programFound) + L", \"tooLong\": " +
                       JsonBool(report.tooLong) + L", \"levels\": " +
                       std::to_wstring(report.levels) + L", \"layoutUsable\": " +
                       JsonBool(report.layoutOk) + L", \"installRoot\": " +
                       (report.tooLong ? L"null" : JsonText(report.root)) + L"},\n";
    out += L"  \"releaseFile\": {\"path\": " +
           (report.releaseFile.empty() ? L"null" : JsonText(report.releaseFile)) +
           L", \"found\": " + JsonBool(report.releaseFound) + L", \"folderName\": " +
           JsonValue(report.folder) + L", \"revision\": " + JsonValue(report.revision) + L"},\n";
    out += L"  \"programsWrite\": " + JsonBool(report.writes && !report.root.empty()) +
           L",\n  \"administrator\": " + JsonBool(report.administrator) +
           L",\n  \"programsFolders\": [";
    for (size_t f = 0; f < 2; ++f) {
        const FolderCheck& folder = report.folders[f];
        out += std::wstring(f ? L"," : L"") + L"\n    {\"kind\": \"" + KindOf(folder.allUsers) +
               L"\", \"path\": " + (folder.path.empty() ? L"null" : JsonText(folder.path)) +
               L", \"usedByThisAccount\": " + JsonBool(folder.used) + L", \"shortcuts\": [";
        for (size_t i = 0; i < folder.shortcuts.size(); ++i) {
            const ShortcutCheck& shortcut = folder.shortcuts[i];
            out += std::wstring(i ? L"," : L"") + L"\n      {\"path\": " + JsonText(shortcut.path) +
                   L", \"present\": " + JsonBool(shortcut.present) + L", \"target\": " +
                   (shortcut.readable ? JsonText(shortcut.target) : L"null") +
                   L", \"expectedTarget\": " + JsonText(shortcut.expectedTarget) +
                   L", \"targetExists\": " + JsonBool(shortcut.targetExists) + L"}";
        }
        out += folder.shortcuts.empty() ? L"]}" : L"\n    ]}";
    }
    out += L"\n  ],\n  \"leftovers\": [";
    for (size_t i = 0; i < report.leftovers.size(); ++i) {
        out += std::wstring(i ? L"," : L"") + L"\n    {\"path\": " +
               JsonText(report.leftovers[i].path) + L", \"why\": " +
               JsonText(report.leftovers[i].why, kPathShown * 2) + L"}";
    }
    out += report.leftovers.empty() ? L"]" : L"\n  ]";
    out += L",\n  \"notes\": " + JsonList(report.notes) + L",\n  \"problems\": " +
           JsonList(report.problems) + L",\n  \"ok\": " + JsonBool(report.problems.empty()) +
           L"\n}\n";
    return out;
}

constexpr char kUsage[] =
    "usage: check_shortcuts [--json] PROGRAM\n"
    "  PROGRAM  the path of an installed add_shortcuts.exe or remove_shortcuts.exe\n"
    "  --json   print the findings as JSON\n"
    "Reads only. Exit code 0: the five shortcuts are where this account's run puts them;\n"
    "1: something is off; 2: usage error.\n";

int Usage(const char* complaint) {
    if (complaint) fprintf(stderr, "check_shortcuts: %s\n", complaint);
    fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: none may come from this program's folder or the current
    // directory, which may be the install's, and writable by others.
    RestrictDllSearchToSystem();

    bool json = false;
    const wchar_t* program = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--json") == 0) {
            json = true;
        } else if (argv[i][0] == L'-' || (argv[i][0] == L'/' && argv[i][1] == L'?')) {
            return Usage(wcscmp(argv[i], L"--help") == 0 || wcscmp(argv[i], L"/?") == 0
                             ? nullptr
                             : "unknown option");
        } else if (program) {
            return Usage("one program path only");
        } else {
            program = argv[i];
        }
    }
    if (!program || !program[0]) return Usage("the program's path is missing");

    Report report;
    report.program = FullPath(program);
    DWORD attributes = GetFileAttributesW(report.program.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Usage("PROGRAM names a folder: give the path of add_shortcuts.exe in it");
    }

    CoInitialize(nullptr);  // for the shell link; stays initialised until the tool ends
    CheckProgramPath(&report);
    CheckReleaseFile(&report);
    CheckAccount(&report);
    report.folders[0].allUsers = true;
    for (FolderCheck& folder : report.folders) {
        folder.used = folder.allUsers == report.administrator;
        CheckFolder(report, &folder);
    }
    JudgeFolders(&report);
    FindLeftovers(&report);

    Write(json ? JsonReport(report) : PlainReport(report));
    return report.problems.empty() ? 0 : 1;
}
