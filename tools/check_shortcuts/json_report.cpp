#include "json_report.h"

#include "escape.h"
#include "text_report.h"

#include <cstdint>

namespace {

std::wstring Text(const std::wstring& text) {
    return L"\"" + EscapeForJson(text) + L"\"";
}

std::wstring TextOrNull(bool known, const std::wstring& text) {
    return known ? Text(text) : L"null";
}

std::wstring Bool(bool value) {
    return value ? L"true" : L"false";
}

std::wstring Number(uint64_t value) {
    return std::to_wstring(value);
}

const wchar_t* RefusalName(NameRefusal refusal) {
    switch (refusal) {
        case NameRefusal::kNone:
            return L"none";
        case NameRefusal::kMissing:
            return L"missing";
        case NameRefusal::kRooted:
            return L"rooted";
        case NameRefusal::kDotComponent:
            return L"dotComponent";
        case NameRefusal::kForbiddenChar:
            return L"forbiddenCharacter";
    }
    return L"";
}

const wchar_t* MatchName(FieldMatch match) {
    switch (match) {
        case FieldMatch::kSame:
            return L"same";
        case FieldMatch::kOtherSpelling:
            return L"otherSpelling";
        case FieldMatch::kDiffers:
            return L"differs";
        case FieldMatch::kNotLocal:
            return L"notLocal";
    }
    return L"";
}

const wchar_t* LeftoverName(LeftoverKind kind) {
    switch (kind) {
        case LeftoverKind::kOtherFolderAndRevision:
            return L"otherFolderAndRevision";
        case LeftoverKind::kOtherFolder:
            return L"otherFolder";
        case LeftoverKind::kOtherRevision:
            return L"otherRevision";
        case LeftoverKind::kBlankName:
            return L"blankName";
        case LeftoverKind::kFound:
            return L"suiteShortcut";
        case LeftoverKind::kEmptyFolder:
            return L"emptyFolder";
    }
    return L"";
}

const wchar_t* ProblemName(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::kProgramMissing:
            return L"programMissing";
        case ProblemKind::kProgramNotLocal:
            return L"programNotLocal";
        case ProblemKind::kPathTooLong:
            return L"programPathTooLong";
        case ProblemKind::kWrongDepth:
            return L"programWrongDepth";
        case ProblemKind::kWrongLayout:
            return L"programWrongLayout";
        case ProblemKind::kReleaseFileMissing:
            return L"releaseFileMissing";
        case ProblemKind::kReleaseFileUnreadable:
            return L"releaseFileUnreadable";
        case ProblemKind::kReleaseFileTooLarge:
            return L"releaseFileTooLarge";
        case ProblemKind::kFolderNameRefused:
            return L"folderNameRefused";
        case ProblemKind::kRevisionRefused:
            return L"revisionRefused";
        case ProblemKind::kFolderNameNotSet:
            return L"folderNameNotSet";
        case ProblemKind::kProgramsFolderUnknown:
            return L"programsFolderUnknown";
        case ProblemKind::kProgramsFolderNotLocal:
            return L"programsFolderNotLocal";
        case ProblemKind::kShortcutsMissing:
            return L"shortcutsMissing";
        case ProblemKind::kShortcutsInOtherFolder:
            return L"shortcutsInOtherFolder";
        case ProblemKind::kShortcutUnreadable:
            return L"shortcutUnreadable";
        case ProblemKind::kFieldDiffers:
            return L"fieldDiffers";
        case ProblemKind::kTargetMissing:
            return L"targetMissing";
        case ProblemKind::kLeftovers:
            return L"leftovers";
    }
    return L"";
}

const wchar_t* NoteName(NoteKind kind) {
    switch (kind) {
        case NoteKind::kNotNamedLikeProgram:
            return L"programNotNamedAsExpected";
        case NoteKind::kLimitedToken:
            return L"runningWithoutElevation";
        case NoteKind::kSearchCut:
            return L"leftoverSearchCut";
        case NoteKind::kEmptyFolders:
            return L"emptyFoldersListed";
    }
    return L"";
}

std::wstring Value(const Report& report, const ValueCheck& value, bool revision) {
    if (!report.releaseRead) return L"null";
    bool cut = false;
    std::wstring kept = CutText(value.value, kJsonValueChars, &cut);
    std::wstring out = L"{\"value\": " + Text(kept) + L", \"cut\": " + Bool(cut) +
                       L", \"length\": " + Number(value.value.size()) + L", \"accepted\": " +
                       Bool(value.check.refusal == NameRefusal::kNone) + L", \"refusal\": \"" +
                       RefusalName(value.check.refusal) + L"\"";
    if (value.check.refusal == NameRefusal::kForbiddenChar) {
        out += L", \"character\": " + Text(std::wstring(1, value.check.character));
    }
    if (value.check.refusal == NameRefusal::kDotComponent) {
        out +=
            L", \"component\": " + Text(value.value.substr(value.check.offset, value.check.length));
    }
    std::wstring rule = RefusalText(value, revision, false);
    return out + L", \"rule\": " + TextOrNull(!rule.empty(), rule) + L"}";
}

// A field under its JSON key: its name in camelCase.
std::wstring Field(const FieldCheck& field) {
    std::wstring key = field.name;
    if (key == L"working directory") key = L"workingDirectory";
    return Text(key) + L": {\"actual\": " + Text(field.actual) + L", \"expected\": " +
           Text(field.expected) + L", \"match\": \"" + MatchName(field.match) + L"\"}";
}

std::wstring Shortcut(const ShortcutCheck& shortcut) {
    std::wstring out = L"{\"path\": " + Text(shortcut.path) + L", \"present\": " +
                       Bool(shortcut.present) + L", \"readable\": " + Bool(shortcut.readable) +
                       L", \"targetExists\": " + Bool(shortcut.targetExists) + L", \"fields\": ";
    if (!shortcut.readable) return out + L"null}";
    out += L"{";
    for (size_t i = 0; i < shortcut.fields.size(); ++i) {
        out += (i ? L",\n        " : L"\n        ") + Field(shortcut.fields[i]);
    }
    return out + L"}}";
}

}  // namespace

std::wstring JsonReport(const Report& report) {
    const bool rootKnown = report.programLocal && !report.tooLong;
    std::wstring out = L"{\n  \"program\": {\"path\": " + Text(report.program) + L", \"local\": " +
                       Bool(report.programLocal) + L", \"found\": " + Bool(report.programFound) +
                       L", \"tooLong\": " + Bool(report.tooLong) + L", \"levels\": " +
                       Number(report.levels) + L", \"layoutUsable\": " + Bool(report.layoutOk) +
                       L", \"installRoot\": " + TextOrNull(rootKnown, report.root) + L"},\n";
    out += L"  \"releaseFile\": {\"path\": " +
           TextOrNull(!report.releaseFile.empty(), report.releaseFile) + L", \"found\": " +
           Bool(report.releaseFound) + L", \"size\": " +
           (report.releaseExists ? Number(report.releaseSize) : L"null") + L", \"read\": " +
           Bool(report.releaseRead) + L",\n    \"folderName\": " +
           Value(report, report.folder, false) + L",\n    \"revision\": " +
           Value(report, report.revision, true) + L"},\n";
    out += L"  \"programsWrite\": " + Bool(report.writes) + L",\n  \"administrator\": " +
           Bool(report.administrator) + L",\n  \"limitedToken\": " + Bool(report.limitedToken) +
           L",\n  \"programsFolders\": [";
    for (size_t f = 0; f < 2; ++f) {
        const FolderCheck& folder = report.folders[f];
        out += std::wstring(f ? L"," : L"") + L"\n    {\"kind\": \"" +
               (folder.allUsers ? L"all-users" : L"per-user") + L"\", \"path\": " +
               TextOrNull(!folder.path.empty(), folder.path) + L", \"local\": " +
               Bool(folder.local) + L", \"usedByThisAccount\": " + Bool(folder.used) +
               L", \"shortcuts\": [";
        for (size_t i = 0; i < folder.shortcuts.size(); ++i) {
            out += (i ? L",\n      " : L"\n      ") + Shortcut(folder.shortcuts[i]);
        }
        out += folder.shortcuts.empty() ? L"]}" : L"\n    ]}";
    }
    out += L"\n  ],\n  \"leftovers\": [";
    for (size_t i = 0; i < report.leftovers.size(); ++i) {
        const Leftover& leftover = report.leftovers[i];
        const bool shortcut = leftover.kind != LeftoverKind::kEmptyFolder;
        out += std::wstring(i ? L"," : L"") + L"\n    {\"path\": " + Text(leftover.path) +
               L", \"kind\": \"" + LeftoverName(leftover.kind) + L"\", \"folderName\": " +
               TextOrNull(shortcut, leftover.folder) + L", \"revision\": " +
               TextOrNull(shortcut, leftover.revision) + L", \"countsAsProblem\": " +
               Bool(leftover.counts) + L", \"why\": " + Text(LeftoverText(leftover, false)) + L"}";
    }
    out += report.leftovers.empty() ? L"]" : L"\n  ]";
    out += L",\n  \"leftoverSearchCut\": " + Bool(report.searchCut) + L",\n  \"notes\": [";
    for (size_t i = 0; i < report.notes.size(); ++i) {
        out += std::wstring(i ? L"," : L"") + L"\n    {\"kind\": \"" +
               NoteName(report.notes[i].kind) + L"\", \"message\": " +
               Text(NoteText(report.notes[i])) + L"}";
    }
    out += report.notes.empty() ? L"]" : L"\n  ]";
    out += L",\n  \"problems\": [";
    for (size_t i = 0; i < report.problems.size(); ++i) {
        const Problem& problem = report.problems[i];
        out += std::wstring(i ? L"," : L"") + L"\n    {\"kind\": \"" + ProblemName(problem.kind) +
               L"\", \"path\": " + TextOrNull(!problem.path.empty(), problem.path);
        if (problem.kind == ProblemKind::kFieldDiffers ||
            problem.kind == ProblemKind::kTargetMissing) {
            out += L", \"field\": {" + Field(problem.field) + L"}";
        }
        out += L", \"message\": " + Text(ProblemText(report, problem, false)) + L"}";
    }
    out += report.problems.empty() ? L"]" : L"\n  ]";
    out += L",\n  \"ok\": " + Bool(report.problems.empty()) + L"\n}\n";
    return out;
}
