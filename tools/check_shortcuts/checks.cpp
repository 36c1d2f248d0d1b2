#include "checks.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "add_shortcuts/catalogue.h"
#include "files.h"
#include "instutil/paths.h"

namespace {

constexpr size_t kCatalogueSize = sizeof(kShortcutCatalogue) / sizeof(kShortcutCatalogue[0]);

// A library WideBuffer as a string, released.
std::wstring Take(WideBuffer buffer) {
    std::wstring text = buffer ? buffer : L"";
    FreeAndClear(&buffer);
    return text;
}

void AddProblem(Report* report, ProblemKind kind, const std::wstring& path = L"",
                uint64_t count = 0) {
    Problem problem;
    problem.kind = kind;
    problem.path = path;
    problem.count = count;
    report->problems.push_back(problem);
}

// A value of the release file from the bytes read, by the programs' own search.
std::wstring FindValue(const BYTE* content, DWORD size, const char* key) {
    DWORD needed = static_cast<DWORD>(FindReleaseValue(content, size, key, nullptr, 0));
    WideBuffer value = AllocWideBuffer(needed);
    FindReleaseValue(content, size, key, &value, needed);
    return Take(value);
}

// A path field: the same text, another spelling of the same local file, or another path.
FieldMatch ComparePath(const std::wstring& actual, const std::wstring& expected) {
    if (EqualNoCase(actual, expected)) return FieldMatch::kSame;
    if (!IsLocalPath(actual)) return FieldMatch::kNotLocal;
    return SameLocalFile(actual, expected) ? FieldMatch::kOtherSpelling : FieldMatch::kDiffers;
}

FieldCheck TextField(const wchar_t* name, const std::wstring& actual, const std::wstring& expected,
                     bool ignoreCase) {
    bool same = ignoreCase ? EqualNoCase(actual, expected) : actual == expected;
    return {name, actual, expected, same ? FieldMatch::kSame : FieldMatch::kDiffers};
}

std::wstring IconText(const std::wstring& file, int index) {
    return file + L"," + std::to_wstring(index);
}

// The shortcut's fields against the catalogue entry. Only the catalogue's own target and icon are
// looked at, and a field's path only when it is local.
void CompareFields(const Report& report, const CatalogueEntry& entry, const ShortcutFields& fields,
                   ShortcutCheck* shortcut) {
    std::wstring target = report.targetDirectory + entry.executable;
    shortcut->fields.push_back(
        {L"target", fields.target, target, ComparePath(fields.target, target)});
    const FieldMatch targetMatch = shortcut->fields.back().match;
    shortcut->targetExists =
        (targetMatch == FieldMatch::kSame || targetMatch == FieldMatch::kOtherSpelling) &&
        IsLocalFile(target);
    shortcut->fields.push_back(TextField(L"arguments", fields.arguments, entry.arguments, false));
    shortcut->fields.push_back(
        TextField(L"working directory", fields.workingDirectory, kWorkingDirectory, true));
    FieldCheck icon = {L"icon", IconText(fields.iconFile, fields.iconIndex),
                       IconText(report.iconFile, 0), FieldMatch::kDiffers};
    if (fields.iconIndex == 0) icon.match = ComparePath(fields.iconFile, report.iconFile);
    shortcut->fields.push_back(icon);
    shortcut->fields.push_back(
        TextField(L"description", fields.description, entry.description, false));
}

void CheckFolder(Report* report, FolderCheck* folder) {
    int needed = GetProgramsFolderFor(folder->allUsers, nullptr, 0);
    std::unique_ptr<wchar_t[]> path(new wchar_t[needed > 0 ? needed : 1]());
    if (GetProgramsFolderFor(folder->allUsers, path.get(), needed > 0 ? needed : 1) == 0) {
        folder->path = path.get();
    }
    folder->local = folder->path.empty() || IsLocalPath(folder->path);
    if (folder->path.empty() || !folder->local || !report->writes) return;

    for (const CatalogueEntry& entry : kShortcutCatalogue) {
        WideBuffer subfolder = ComposeSubfolder(report->folder.value.c_str(), entry.subfolderTail);
        std::wstring composed = Take(ComposeShortcutPath(
            folder->path.c_str(), subfolder, entry.title, report->revision.value.c_str()));
        FreeAndClear(&subfolder);
        if (composed.empty()) continue;
        ShortcutCheck shortcut;
        shortcut.path = FullPath(composed);
        shortcut.present = IsLocalFile(shortcut.path);
        if (shortcut.present) {
            ++folder->present;
            ShortcutFields fields;
            ReadShortcutFile(shortcut.path.c_str(), &fields);
            shortcut.readable = fields.loaded;
            if (shortcut.readable) CompareFields(*report, entry, fields, &shortcut);
        }
        folder->shortcuts.push_back(shortcut);
    }
}

// Problems with the five shortcuts: missing where this account's run looks, found where it does
// not look, unreadable, or with a field that is not the catalogue's.
void JudgeFolders(Report* report) {
    FolderCheck* used = report->folders[0].used ? &report->folders[0] : &report->folders[1];
    FolderCheck* other = used == &report->folders[0] ? &report->folders[1] : &report->folders[0];
    for (const FolderCheck* folder : {used, other}) {
        if (!folder->path.empty() && !folder->local) {
            Problem problem;
            problem.kind = ProblemKind::kProgramsFolderNotLocal;
            problem.allUsers = folder->allUsers;
            problem.path = folder->path;
            report->problems.push_back(problem);
        }
    }
    if (!report->writes) return;
    if (used->path.empty()) {
        Problem problem;
        problem.kind = ProblemKind::kProgramsFolderUnknown;
        problem.allUsers = used->allUsers;
        report->problems.push_back(problem);
    } else if (used->local && used->present < kCatalogueSize) {
        Problem problem;
        problem.kind = ProblemKind::kShortcutsMissing;
        problem.allUsers = used->allUsers;
        problem.count = kCatalogueSize - used->present;
        problem.other = other->present;
        report->problems.push_back(problem);
    } else if (other->present > 0) {
        Problem problem;
        problem.kind = ProblemKind::kShortcutsInOtherFolder;
        problem.allUsers = other->allUsers;
        problem.count = other->present;
        report->problems.push_back(problem);
    }
    for (const FolderCheck& folder : report->folders) {
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            if (!shortcut.present) continue;
            if (!shortcut.readable) {
                AddProblem(report, ProblemKind::kShortcutUnreadable, shortcut.path);
                continue;
            }
            for (const FieldCheck& field : shortcut.fields) {
                if (field.match == FieldMatch::kSame || field.match == FieldMatch::kOtherSpelling) {
                    continue;
                }
                Problem problem;
                problem.kind = ProblemKind::kFieldDiffers;
                problem.path = shortcut.path;
                problem.field = field;
                report->problems.push_back(problem);
            }
            const FieldCheck& target = shortcut.fields.front();
            if ((target.match == FieldMatch::kSame || target.match == FieldMatch::kOtherSpelling) &&
                !shortcut.targetExists) {
                Problem problem;
                problem.kind = ProblemKind::kTargetMissing;
                problem.path = shortcut.path;
                problem.field = target;
                report->problems.push_back(problem);
            }
        }
    }
}

}  // namespace

void CheckProgramPath(Report* report) {
    const std::wstring& program = report->program;
    report->programLocal = IsLocalPath(program);
    if (!report->programLocal) {
        AddProblem(report, ProblemKind::kProgramNotLocal);
        return;
    }
    report->programFound = IsLocalFile(program);
    if (!report->programFound) AddProblem(report, ProblemKind::kProgramMissing);
    std::wstring name = program.substr(program.rfind(L'\\') + 1);
    if (!EqualNoCase(name, L"add_shortcuts.exe") && !EqualNoCase(name, L"remove_shortcuts.exe")) {
        report->notes.push_back({NoteKind::kNotNamedLikeProgram});
    }

    report->tooLong = program.size() >= kModulePathChars;
    if (report->tooLong) {
        AddProblem(report, ProblemKind::kPathTooLong, L"", program.size());
        return;
    }
    // The install root as the programs derive it: the path less its last five components.
    std::unique_ptr<wchar_t[]> root(new wchar_t[program.size() + 1]());
    StripPathLevels(program.c_str(), root.get());
    report->root = root.get();
    for (size_t at = report->root.size(); at < program.size();) {
        size_t end = program.find(L'\\', at);
        if (end == std::wstring::npos) end = program.size();
        if (end > at) ++report->levels;
        at = end + 1;
    }
    // The targets' folder and the icon, composed as add_shortcuts composes them.
    report->targetDirectory = Take(ComposeTargetDirectory(report->root.c_str()));
    report->iconFile = Take(ComposeIconFile(report->root.c_str()));

    report->layoutOk = report->levels == 5 && StartsWithNoCase(program, report->targetDirectory) &&
                       program.find(L'\\', report->targetDirectory.size()) != std::wstring::npos;
    if (report->levels != 5) {
        AddProblem(report, ProblemKind::kWrongDepth, report->root, report->levels);
    } else if (!report->layoutOk) {
        AddProblem(report, ProblemKind::kWrongLayout, report->targetDirectory);
    }
}

void CheckReleaseFile(Report* report) {
    if (!report->programLocal) return;
    report->releaseFile = Take(ComposeGlobalReleaseFilePath(report->root.c_str()));
    if (report->releaseFile.empty()) return;  // the install root is unknown

    // Its size first: a file too large to read is reported, not read.
    report->releaseExists = LocalFileSize(report->releaseFile, &report->releaseSize);
    if (report->releaseExists && report->releaseSize > kReleaseReadLimit) {
        AddProblem(report, ProblemKind::kReleaseFileTooLarge);
        return;
    }
    BYTE* raw = nullptr;
    DWORD size = 0;
    if (report->releaseExists) ReadWholeFile(report->releaseFile.c_str(), &raw, &size);
    std::unique_ptr<BYTE[]> content(raw);
    report->releaseRead = true;  // a file that cannot be read gives no values, as to the programs
    report->releaseFound = content != nullptr;
    if (!content) {
        report->releaseExists = IsLocalFile(report->releaseFile);
        AddProblem(report, report->releaseExists ? ProblemKind::kReleaseFileUnreadable
                                                 : ProblemKind::kReleaseFileMissing);
    }

    report->folder.value = FindValue(content.get(), size, kStartMenuFolderNameKey);
    report->revision.value = FindValue(content.get(), size, kRevisionKey);
    report->folder.check = CheckFolderName(report->folder.value.c_str());
    report->revision.check = CheckNamePart(report->revision.value.c_str());
    if (report->folder.check.refusal != NameRefusal::kNone) {
        AddProblem(report, ProblemKind::kFolderNameRefused);
    }
    if (report->revision.check.refusal != NameRefusal::kNone) {
        AddProblem(report, ProblemKind::kRevisionRefused);
    }
    if (content && report->folder.value.empty()) {
        AddProblem(report, ProblemKind::kFolderNameNotSet);
    }
    report->writes = report->folder.check.refusal == NameRefusal::kNone &&
                     report->revision.check.refusal == NameRefusal::kNone && !report->root.empty();
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
        report->notes.push_back({NoteKind::kLimitedToken});
    }
}

void CheckProgramsFolders(Report* report) {
    report->folders[0].allUsers = true;
    for (FolderCheck& folder : report->folders) {
        folder.used = folder.allUsers == report->administrator;
        CheckFolder(report, &folder);
    }
    JudgeFolders(report);
}
