#include "text_report.h"

#include <cstdint>
#include <cwchar>
#include <utility>

#include "escape.h"
#include "files.h"
#include "instutil/paths.h"

namespace {

constexpr size_t kValueShown = 160;  // characters shown of a relinfo.xml value
constexpr size_t kPathShown = 600;   // characters shown of a path

// Texts from the install as a person sees them, or bounded only (for JSON's messages).
struct Style {
    bool forPerson;
    std::wstring Shown(const std::wstring& text, size_t limit = kPathShown) const {
        if (forPerson) return EscapeForPerson(text, limit);
        bool cut = false;
        std::wstring kept = CutText(text, limit, &cut);
        return cut ? kept + L"..." : kept;
    }
    std::wstring Quoted(const std::wstring& text, size_t limit = kValueShown) const {
        return L"\"" + Shown(text, limit) + L"\"";
    }
};

const wchar_t* KindOf(bool allUsers) {
    return allUsers ? L"all-users" : L"per-user";
}

// `path` below `folder`, without the folder and its separator; `path` when it is not below it.
std::wstring Below(const std::wstring& folder, const std::wstring& path) {
    if (!folder.empty() && StartsWithNoCase(path, folder + L"\\")) {
        return path.substr(folder.size() + 1);
    }
    return path;
}

std::wstring NameOf(wchar_t c, const Style& style) {
    wchar_t code[16];
    swprintf(code, 16, L" (U+%04X)", static_cast<unsigned>(c));
    return style.Quoted(std::wstring(1, c)) + code;
}

std::wstring Count(uint64_t count) {
    return std::to_wstring(count);
}

std::wstring FieldProblem(const std::wstring& where, const FieldCheck& field, const Style& style) {
    if (wcscmp(field.name, L"target") == 0) {
        return where + L" points at " + style.Shown(field.actual) + L", not at this install's " +
               style.Shown(field.expected) +
               (field.match == FieldMatch::kNotLocal ? L" (a path that is not local: not looked at)"
                                                     : L"") +
               L".";
    }
    return where + L" has the " + field.name + L" " + style.Quoted(field.actual, kPathShown) +
           L", not this install's " + style.Quoted(field.expected, kPathShown) + L".";
}

std::wstring FieldLine(const FieldCheck& field, const Style& style) {
    const wchar_t* name = field.name;
    std::wstring out = L"           " + std::wstring(name) +
                       std::wstring(name[0] && wcslen(name) < 18 ? 18 - wcslen(name) : 1, L' ') +
                       style.Quoted(field.actual, kPathShown);
    if (field.match == FieldMatch::kOtherSpelling) {
        out += L"  (another spelling of this install's " +
               style.Quoted(field.expected, kPathShown) + L")";
    } else {
        out += std::wstring(L"  (NOT this install's") +
               (field.match == FieldMatch::kNotLocal ? L"; not local, not looked at" : L"") +
               L": " + style.Quoted(field.expected, kPathShown) + L")";
    }
    return out + L"\n";
}

}  // namespace

std::wstring RefusalText(const ValueCheck& value, bool revision, bool forPerson) {
    Style style{forPerson};
    const NameCheck& check = value.check;
    switch (check.refusal) {
        case NameRefusal::kNone:
            return L"";
        case NameRefusal::kMissing:
            return L"there is no value";
        case NameRefusal::kRooted:
            return L"it starts with \\ (a rooted path or a network share)";
        case NameRefusal::kDotComponent:
            return L"it has the component " +
                   style.Quoted(value.value.substr(check.offset, check.length)) +
                   L"; a component of dots and blanks only leads out of its folder";
        case NameRefusal::kForbiddenChar:
            return L"it holds " + NameOf(check.character, style) +
                   (revision
                        ? L"; a revision may not hold \\ / : < > \" | ? * or control characters"
                        : L"; a folder name may not hold / : < > \" | ? * or control "
                          L"characters");
    }
    return L"the programs refuse it";
}

std::wstring LeftoverText(const Leftover& leftover, bool forPerson) {
    Style style{forPerson};
    switch (leftover.kind) {
        case LeftoverKind::kOtherFolderAndRevision:
            return L"another folder name, " + style.Quoted(leftover.folder) + L", and revision, " +
                   style.Quoted(leftover.revision);
        case LeftoverKind::kOtherFolder:
            return L"another folder name: " + style.Quoted(leftover.folder);
        case LeftoverKind::kOtherRevision:
            return L"another revision: " + style.Quoted(leftover.revision);
        case LeftoverKind::kBlankName:
            return L"the name earlier releases gave a shortcut without a revision";
        case LeftoverKind::kFound:
            return L"folder " + style.Quoted(leftover.folder) + L", revision " +
                   style.Quoted(leftover.revision) +
                   (leftover.counts ? L"" : L" (not judged: relinfo.xml was not read)");
        case LeftoverKind::kEmptyFolder:
            return L"a folder of the suite's shape without files (it may be another program's)";
    }
    return L"";
}

std::wstring ProblemText(const Report& report, const Problem& problem, bool forPerson) {
    Style style{forPerson};
    const FolderCheck& used = report.folders[0].used ? report.folders[0] : report.folders[1];
    switch (problem.kind) {
        case ProblemKind::kProgramMissing:
            return L"There is no file at the program's path.";
        case ProblemKind::kProgramNotLocal:
            return L"The program's path is not on a local drive. The programs run from a local "
                   L"install; this tool opens no network or device path, so nothing was read.";
        case ProblemKind::kPathTooLong:
            return L"The program's path has " + Count(problem.count) +
                   L" characters; the programs cannot use a path of " + Count(kModulePathChars) +
                   L" or more: the install root is unknown to them and they write and delete "
                   L"nothing.";
        case ProblemKind::kWrongDepth:
            return L"The program lies " + Count(problem.count) + L" levels below " +
                   style.Quoted(problem.path, kPathShown) +
                   L", not five: the programs take that as the install root.";
        case ProblemKind::kWrongLayout:
            return L"The program is not in <root>\\KELDA\\bin\\winx64\\<folder>\\: the shortcuts' "
                   L"targets are looked for in " +
                   style.Shown(problem.path) + L".";
        case ProblemKind::kReleaseFileMissing:
        case ProblemKind::kReleaseFileUnreadable:
            return L"relinfo.xml " +
                   std::wstring(problem.kind == ProblemKind::kReleaseFileUnreadable
                                    ? L"cannot be opened for reading"
                                    : L"is not there") +
                   L": the programs read no folder name and no revision, and put the shortcuts "
                   L"at the top of the Programs folder and its Utilities folder, named by their "
                   L"titles alone.";
        case ProblemKind::kReleaseFileTooLarge:
            return L"relinfo.xml holds " + Count(report.releaseSize) +
                   L" bytes; this tool reads "
                   L"no more than " +
                   Count(kReleaseReadLimit) +
                   L", so its values are unknown. "
                   L"The programs read it whole, " +
                   Count(report.releaseSize & 0xFFFFFFFFull) +
                   L" bytes (its size as a 32-bit count), into one allocation; where that fails, "
                   L"as it does for a file of a gigabyte or more, they end with exit code 3 and "
                   L"write and delete nothing.";
        case ProblemKind::kFolderNameRefused:
            return L"The programs refuse the folder name " + style.Quoted(report.folder.value) +
                   L": " + RefusalText(report.folder, false, forPerson) +
                   L". They write and delete nothing.";
        case ProblemKind::kRevisionRefused:
            return L"The programs refuse the revision " + style.Quoted(report.revision.value) +
                   L": " + RefusalText(report.revision, true, forPerson) +
                   L". They write and delete nothing.";
        case ProblemKind::kFolderNameNotSet:
            return L"relinfo.xml sets no startMenuFolderName: the shortcuts go to the top of the "
                   L"Programs folder.";
        case ProblemKind::kProgramsFolderUnknown:
            return std::wstring(L"The ") + KindOf(problem.allUsers) +
                   L" Programs folder cannot be found: the programs write and delete nothing.";
        case ProblemKind::kProgramsFolderNotLocal:
            return std::wstring(L"The ") + KindOf(problem.allUsers) + L" Programs folder, " +
                   style.Shown(problem.path) +
                   L", is not on a local drive; this tool does not look into it.";
        case ProblemKind::kShortcutsMissing: {
            std::wstring text =
                Count(problem.count) + L" of the 5 shortcuts are missing from the " +
                KindOf(problem.allUsers) + L" Programs folder, the one this account's run uses.";
            if (problem.other > 0) {
                text += L" " + Count(problem.other) + L" of them are in the " +
                        KindOf(!problem.allUsers) + L" folder, where a run " +
                        (!problem.allUsers ? L"with" : L"without") +
                        L" administrator rights puts them. This account " +
                        (used.allUsers ? L"passes" : L"does not pass") +
                        L" the administrator check, so its run of add_shortcuts or "
                        L"remove_shortcuts looks in the " +
                        KindOf(used.allUsers) + L" folder and does not find them.";
            }
            return text;
        }
        case ProblemKind::kShortcutsInOtherFolder:
            return std::wstring(L"The ") + KindOf(problem.allUsers) +
                   L" Programs folder also holds " + Count(problem.count) +
                   L" of the shortcuts, written by a run " +
                   (problem.allUsers ? L"with" : L"without") +
                   L" administrator rights; this account's remove_shortcuts would leave them.";
        case ProblemKind::kShortcutUnreadable:
            return style.Shown(problem.path) + L" cannot be read as a shortcut.";
        case ProblemKind::kFieldDiffers:
            return FieldProblem(style.Shown(problem.path), problem.field, style);
        case ProblemKind::kTargetMissing:
            return style.Shown(problem.path) + L" points at " + style.Shown(problem.field.actual) +
                   L", which does not exist.";
        case ProblemKind::kLeftovers:
            return Count(problem.count) +
                   L" leftovers of another install or an upgrade (listed under Leftovers); "
                   L"remove_shortcuts with the current relinfo.xml does not delete them.";
    }
    return L"";
}

std::wstring NoteText(const Note& note) {
    switch (note.kind) {
        case NoteKind::kNotNamedLikeProgram:
            return L"The program is not named add_shortcuts.exe or remove_shortcuts.exe; the "
                   L"check assumes it is one of them.";
        case NoteKind::kLimitedToken:
            return L"This account runs without its administrator rights now. The programs ask "
                   L"for the highest rights available: started by this account they may run as "
                   L"administrator and use the all-users folder. Run this check elevated to see "
                   L"what they see then.";
        case NoteKind::kSearchCut:
            return L"A Programs folder holds more than " + Count(note.count) +
                   L" entries; the search for leftovers stopped there.";
        case NoteKind::kEmptyFolders:
            return Count(note.count) +
                   L" empty folders of the suite's shape are listed under Leftovers. They hold no "
                   L"files and may be another program's: they are not counted as problems.";
    }
    return L"";
}

std::wstring TextReport(const Report& report) {
    Style style{true};
    std::wstring out =
        L"check_shortcuts: what add_shortcuts and remove_shortcuts make of this "
        L"install\n\nProgram\n  path          " +
        style.Shown(report.program) + L"\n  file          " +
        (!report.programLocal  ? L"not looked at: not on a local drive"
         : report.programFound ? L"found"
                               : L"not found") +
        L"\n";
    if (!report.programLocal) {
        // Nothing else was looked at.
    } else if (report.tooLong) {
        out += L"  install root  unknown: the path has " + Count(report.program.size()) +
               L" characters, the programs use at most " + Count(kModulePathChars - 1) + L"\n";
    } else {
        out += L"  install root  " + style.Shown(report.root) +
               L"  (the path less its last five components)\n  layout        " +
               (report.layoutOk ? L"usable: " : L"NOT usable: ") + Count(report.levels) +
               L" levels below the root, " + (report.layoutOk ? L"in" : L"expected") +
               L" KELDA\\bin\\winx64\\<folder>\\, " + Count(report.program.size()) +
               L" characters\n";
    }

    out += L"\nRelease file  " +
           (report.releaseFile.empty() ? std::wstring(L"none (the install root is unknown)")
                                       : style.Shown(report.releaseFile)) +
           L"\n";
    if (!report.releaseFile.empty()) {
        out += L"  file          " +
               (!report.releaseRead    ? L"NOT READ: " + Count(report.releaseSize) + L" bytes"
                : report.releaseFound  ? std::wstring(L"found")
                : report.releaseExists ? std::wstring(L"cannot be opened for reading")
                                       : std::wstring(L"NOT FOUND")) +
               L"\n";
        const std::pair<const wchar_t*, const ValueCheck*> values[] = {
            {L"folder name", &report.folder}, {L"revision   ", &report.revision}};
        for (const auto& value : values) {
            const bool revision = value.second == &report.revision;
            std::wstring refusal = RefusalText(*value.second, revision, true);
            out += std::wstring(L"  ") + value.first + L"   " +
                   (!report.releaseRead           ? std::wstring(L"(not read)")
                    : value.second->value.empty() ? std::wstring(L"(not set)")
                                                  : style.Quoted(value.second->value)) +
                   (!report.releaseRead ? L""
                    : refusal.empty()   ? L"  accepted"
                                        : L"  REFUSED: " + refusal) +
                   L"\n";
        }
    }

    out += std::wstring(L"\nAccount       ") +
           (report.administrator ? L"passes" : L"does not pass") +
           L" the administrator check: its run uses the " + KindOf(report.administrator) +
           L" Programs folder\n";

    for (const FolderCheck& folder : report.folders) {
        out +=
            std::wstring(L"\n") + (folder.allUsers ? L"All-users" : L"Per-user") +
            L" Programs folder  " +
            (folder.path.empty() ? std::wstring(L"(cannot be found)") : style.Shown(folder.path)) +
            (folder.used ? L"  <- this account's run" : L"") + L"\n";
        if (!folder.local) {
            out += L"  (not looked at: not on a local drive)\n";
            continue;
        }
        if (folder.shortcuts.empty()) {
            out += report.releaseRead || report.releaseFile.empty()
                       ? L"  (not checked: the programs write nothing)\n"
                       : L"  (not checked: relinfo.xml was not read)\n";
            continue;
        }
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            out += std::wstring(shortcut.present ? L"  present  " : L"  missing  ") +
                   style.Shown(Below(folder.path, shortcut.path)) + L"\n";
            if (!shortcut.present) continue;
            if (!shortcut.readable) {
                out += L"           cannot be read as a shortcut\n";
                continue;
            }
            const FieldCheck& target = shortcut.fields.front();
            out += L"           -> " + style.Shown(target.actual);
            switch (target.match) {
                case FieldMatch::kSame:
                    out += shortcut.targetExists ? L"  (exists)" : L"  (DOES NOT EXIST)";
                    break;
                case FieldMatch::kOtherSpelling:
                    out +=
                        std::wstring(shortcut.targetExists ? L"  (exists" : L"  (DOES NOT EXIST") +
                        L"; another spelling of this install's " + style.Shown(target.expected) +
                        L")";
                    break;
                case FieldMatch::kDiffers:
                    out += L"  (not this install's: " + style.Shown(target.expected) + L")";
                    break;
                case FieldMatch::kNotLocal:
                    out += L"  (not local, not looked at; not this install's: " +
                           style.Shown(target.expected) + L")";
                    break;
            }
            out += L"\n";
            for (size_t i = 1; i < shortcut.fields.size(); ++i) {
                if (shortcut.fields[i].match != FieldMatch::kSame) {
                    out += FieldLine(shortcut.fields[i], style);
                }
            }
        }
    }

    out += L"\nLeftovers\n";
    if (report.leftovers.empty()) out += L"  none\n";
    for (const Leftover& leftover : report.leftovers) {
        out += L"  " + style.Shown(leftover.path) + L"\n           " +
               LeftoverText(leftover, true) + L"\n";
    }
    for (const Note& note : report.notes) out += L"\nNote: " + NoteText(note) + L"\n";

    if (report.problems.empty()) {
        out +=
            L"\nResult: all well. The five shortcuts are where this account's run puts them "
            L"and point at existing files of this install.\n";
    } else {
        out += L"\nProblems\n";
        for (const Problem& problem : report.problems) {
            out += L"  - " + ProblemText(report, problem, true) + L"\n";
        }
        out += L"\nResult: " + Count(report.problems.size()) +
               (report.problems.size() == 1 ? L" problem" : L" problems") + L" (exit code 1)\n";
    }
    return out;
}
