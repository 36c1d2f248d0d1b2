#include "checks.h"

#include <windows.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>

#include "files.h"
#include "instutil/owners.h"
#include "instutil/paths.h"
#include "instutil/shortcut_file.h"
#include "leftovers.h"
#include "suite/suite.h"

namespace {

constexpr size_t kCatalogueSize = std::size(kShortcutCatalogue);

// A library WideBuffer as a string, released.
std::wstring Take(WideBuffer buffer) {
    std::wstring text = buffer ? buffer : L"";
    FreeAndClear(&buffer);
    return text;
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

// Whether a field is this install's: the same, or another spelling of the same file.
bool Matches(const FieldCheck& field) {
    return field.match == FieldMatch::kSame || field.match == FieldMatch::kOtherSpelling;
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
    shortcut->targetExists = Matches(shortcut->fields.back()) && IsLocalFile(target);
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
    WideBufferPtr path(new wchar_t[needed > 0 ? needed : 1]());
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

// Problems with the shortcuts: missing where this account's run looks, found where it does not
// look, unreadable, or with a field that is not the catalogue's.
void JudgeFolders(Report* report) {
    FolderCheck* used = report->folders[0].used ? &report->folders[0] : &report->folders[1];
    FolderCheck* other = used == &report->folders[0] ? &report->folders[1] : &report->folders[0];
    for (const FolderCheck* folder : {used, other}) {
        if (!folder->path.empty() && !folder->local) {
            Add(report, finding::kProgramsFolderNotLocal, folder->path).allUsers = folder->allUsers;
        }
    }
    if (!report->writes) return;
    if (used->path.empty()) {
        Add(report, finding::kProgramsFolderUnknown).allUsers = used->allUsers;
    } else if (used->local && used->present < kCatalogueSize) {
        Add(report, finding::kShortcutsMissing, L"", kCatalogueSize - used->present, kCatalogueSize)
            .allUsers = used->allUsers;
    }
    if (other->present > 0) {
        Add(report, finding::kShortcutsInOtherFolder, L"", other->present).allUsers =
            other->allUsers;
    }
    for (const FolderCheck& folder : report->folders) {
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            if (!shortcut.present) continue;
            if (!shortcut.readable) {
                Add(report, finding::kShortcutUnreadable, shortcut.path);
                continue;
            }
            for (const FieldCheck& field : shortcut.fields) {
                if (!Matches(field))
                    Add(report, finding::kFieldDiffers, shortcut.path).field = field;
            }
            if (Matches(shortcut.fields.front()) && !shortcut.targetExists) {
                Add(report, finding::kTargetMissing, shortcut.path).field = shortcut.fields.front();
            }
        }
    }
}

void CheckProgramPath(Report* report) {
    const std::wstring& program = report->program;
    report->programLocal = IsLocalPath(program);
    if (!report->programLocal) {
        Add(report, finding::kProgramNotLocal);
        return;
    }
    report->programFound = IsLocalFile(program);
    if (!report->programFound) Add(report, finding::kProgramMissing);
    std::wstring name = program.substr(program.rfind(L'\\') + 1);
    if (!EqualNoCase(name, L"add_shortcuts.exe") && !EqualNoCase(name, L"remove_shortcuts.exe")) {
        Add(report, finding::kNotNamedLikeProgram);
    }

    report->tooLong = program.size() >= kModulePathChars;
    if (report->tooLong) {
        Add(report, finding::kPathTooLong, L"", program.size(), kModulePathChars);
        return;
    }
    // The install root as the programs derive it: the path less its last components.
    WideBufferPtr root(new wchar_t[program.size() + 1]());
    StripPathLevels(program.c_str(), root.get());
    report->root = root.get();
    for (size_t at = report->root.size(); at < program.size();) {
        size_t end = program.find(L'\\', at);
        if (end == std::wstring::npos) end = program.size();
        if (end > at) ++report->levels;
        at = end + 1;
    }
    // The programs' own rule: placed too shallow, they read nothing beyond their own path.
    report->tooShallow = !IsDeepEnoughForInstallRoot(program.c_str());
    if (report->tooShallow) {
        Add(report, finding::kTooShallow, report->root, LevelsBelowRoot(program.c_str()),
            kInstallRootLevels);
        return;
    }
    // The targets' folder and the icon, composed as add_shortcuts composes them.
    report->targetDirectory = Take(ComposeTargetDirectory(report->root.c_str()));
    report->iconFile = Take(ComposeIconFile(report->root.c_str()));
    // (For a suite at a drive's root the composition doubles the backslash after the drive.)
    const std::wstring targets = FullPath(report->targetDirectory);
    report->layoutOk = StartsWithNoCase(program, targets) &&
                       program.find(L'\\', targets.size()) != std::wstring::npos;
    if (!report->layoutOk) Add(report, finding::kWrongLayout, report->targetDirectory);
}

void CheckReleaseFile(Report* report) {
    if (!report->programLocal || report->tooShallow) return;
    report->releaseFile = Take(ComposeGlobalReleaseFilePath(report->root.c_str()));
    if (report->releaseFile.empty()) return;  // the install root is unknown

    // Its size first: a file too large to read is reported, not read.
    report->releaseExists = LocalFileSize(report->releaseFile, &report->releaseSize);
    if (report->releaseExists && report->releaseSize > kReleaseReadLimit) {
        Add(report, finding::kReleaseFileTooLarge, L"", report->releaseSize, kReleaseReadLimit);
        return;
    }
    BYTE* raw = nullptr;
    DWORD size = 0;
    if (report->releaseExists) ReadWholeFile(report->releaseFile.c_str(), &raw, &size);
    BytesPtr content(raw);
    report->releaseRead = true;  // a file that cannot be read gives no values, as to the programs
    report->releaseFound = content != nullptr;
    if (!content) {
        report->releaseExists = IsLocalFile(report->releaseFile);
        Add(report,
            report->releaseExists ? finding::kReleaseFileUnreadable : finding::kReleaseFileMissing);
    }

    report->folder.value = FindValue(content.get(), size, kStartMenuFolderNameKey);
    report->revision.value = FindValue(content.get(), size, kRevisionKey);
    report->folder.check = CheckFolderName(report->folder.value.c_str());
    report->revision.check = CheckNamePart(report->revision.value.c_str());
    if (report->folder.check.refusal != NameRefusal::kNone) {
        Add(report, finding::kFolderNameRefused).value = report->folder;
    }
    if (report->revision.check.refusal != NameRefusal::kNone) {
        Add(report, finding::kRevisionRefused).value = report->revision;
    }
    if (content && report->folder.value.empty()) Add(report, finding::kFolderNameNotSet);
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
        Add(report, finding::kLimitedToken);
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

}  // namespace

Report CheckInstall(const std::wstring& program) {
    Report report;
    report.program = FullPath(program);
    CheckProgramPath(&report);
    CheckReleaseFile(&report);
    CheckAccount(&report);
    CheckProgramsFolders(&report);
    FindLeftovers(&report);
    return report;
}
