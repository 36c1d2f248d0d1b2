#include "report.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <utility>

#include "escape.h"
#include "files.h"

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

// Why the programs refuse a value: its JSON name and its words.
struct RefusalWords {
    NameRefusal refusal;
    const wchar_t* name;
    const wchar_t* sentence;
};
constexpr RefusalWords kRefusals[] = {
    {NameRefusal::kNone, L"none", L""},
    {NameRefusal::kMissing, L"missing", L"there is no value"},
    {NameRefusal::kRooted, L"rooted", L"it starts with \\ (a rooted path or a network share)"},
    {NameRefusal::kDotComponent, L"dotComponent",
     L"it has the component {part}; a component of dots and blanks only leads out of its folder"},
    {NameRefusal::kForbiddenChar, L"forbiddenCharacter", L"it holds {part} ({code})"},
};

const RefusalWords& WordsFor(NameRefusal refusal) {
    for (const RefusalWords& words : kRefusals) {
        if (words.refusal == refusal) return words;
    }
    return kRefusals[0];
}

// How a field compares, by FieldMatch: its JSON name and its words.
constexpr const wchar_t* kMatchNames[] = {L"same", L"otherSpelling", L"differs", L"notLocal"};
constexpr const wchar_t* kMatchWords[] = {L"this install's", L"another spelling of this install's",
                                          L"NOT this install's",
                                          L"not local, not looked at; NOT this install's"};

std::wstring Ascii(const char* text) {
    return std::wstring(text, text + strlen(text));
}

const wchar_t* KindOf(bool allUsers) {
    return allUsers ? L"all-users" : L"per-user";
}

// The refused component or character of a value.
std::wstring RefusedPart(const ValueCheck& value) {
    if (value.check.refusal == NameRefusal::kForbiddenChar) {
        return std::wstring(1, value.check.character);
    }
    if (value.check.refusal == NameRefusal::kDotComponent) {
        return value.value.substr(value.check.offset, value.check.length);
    }
    return L"";
}

std::wstring Fill(const wchar_t* sentence, const Finding& found, const Style& style);

// One placeholder of a sentence (findings.h).
std::wstring Placeholder(const std::wstring& name, const Finding& found, const Style& style) {
    const FieldCheck& field = found.field;
    if (name == L"path") return style.Shown(found.path);
    if (name == L"count") return std::to_wstring(found.count);
    if (name == L"other") return std::to_wstring(found.other);
    if (name == L"kind") return KindOf(found.allUsers);
    if (name == L"rights") return found.allUsers ? L"with" : L"without";
    if (name == L"value") return style.Quoted(found.value.value);
    if (name == L"refusal") return Fill(WordsFor(found.value.check.refusal).sentence, found, style);
    if (name == L"part") return style.Quoted(RefusedPart(found.value));
    if (name == L"code") {
        wchar_t code[16];
        swprintf(code, 16, L"U+%04X", static_cast<unsigned>(found.value.check.character));
        return code;
    }
    if (name == L"field") return field.name;
    if (name == L"actual") return style.Quoted(field.actual, kPathShown);
    if (name == L"expected") return style.Quoted(field.expected, kPathShown);
    if (name == L"match") return kMatchWords[static_cast<int>(field.match)];
    if (name == L"folder") return style.Quoted(found.folder);
    if (name == L"revision") return style.Quoted(found.revision);
    return L"{" + name + L"}";
}

std::wstring Fill(const wchar_t* sentence, const Finding& found, const Style& style) {
    std::wstring out;
    for (const wchar_t* at = sentence; *at;) {
        const wchar_t* end = *at == L'{' ? wcschr(at, L'}') : nullptr;
        if (!end) {
            out += *at++;
            continue;
        }
        out += Placeholder(std::wstring(at + 1, end), found, style);
        at = end + 1;
    }
    return out;
}

// Why the programs refuse a value, in words; empty when they accept it.
std::wstring RefusalText(const ValueCheck& value, const Style& style) {
    Finding found;
    found.value = value;
    return Fill(WordsFor(value.check.refusal).sentence, found, style);
}

// `path` below `folder`, without the folder and its separator; `path` when it is not below it.
std::wstring Below(const std::wstring& folder, const std::wstring& path) {
    if (!folder.empty() && StartsWithNoCase(path, folder + L"\\")) {
        return path.substr(folder.size() + 1);
    }
    return path;
}

// A shortcut's field for a person: the target after an arrow, with whether it exists; any other
// field under its name.
std::wstring FieldLine(const FieldCheck& field, bool targetExists, const Style& style) {
    const bool target = wcscmp(field.name, L"target") == 0;
    std::wstring out = target ? L"           -> " + style.Shown(field.actual)
                              : L"           " + std::wstring(field.name) +
                                    std::wstring(18 - wcslen(field.name), L' ') +
                                    style.Quoted(field.actual, kPathShown);
    std::wstring notes;
    if (target && (field.match == FieldMatch::kSame || field.match == FieldMatch::kOtherSpelling)) {
        notes = targetExists ? L"exists" : L"DOES NOT EXIST";
    }
    if (field.match != FieldMatch::kSame) {
        notes += (notes.empty() ? L"" : L"; ") +
                 std::wstring(kMatchWords[static_cast<int>(field.match)]) + L": " +
                 style.Quoted(field.expected, kPathShown);
    }
    return out + (notes.empty() ? L"" : L"  (" + notes + L")") + L"\n";
}

// JSON: texts, values, objects and arrays.
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
using Members = std::initializer_list<std::pair<const wchar_t*, std::wstring>>;
std::wstring Object(Members members) {
    std::wstring out;
    for (const auto& member : members) {
        out +=
            (out.empty() ? L"{\"" : L", \"") + std::wstring(member.first) + L"\": " + member.second;
    }
    return out + L"}";
}
// The items one a line, indented by `indent` spaces.
std::wstring Array(const std::vector<std::wstring>& items, size_t indent) {
    std::wstring out;
    for (const std::wstring& item : items) {
        out += (out.empty() ? L"[\n" : L",\n") + std::wstring(indent, L' ') + item;
    }
    return out.empty() ? L"[]" : out + L"\n" + std::wstring(indent - 2, L' ') + L"]";
}

std::wstring JsonValue(const Report& report, const ValueCheck& value) {
    if (!report.releaseRead) return L"null";
    bool cut = false;
    std::wstring kept = CutText(value.value, kJsonValueChars, &cut);
    std::wstring rule = RefusalText(value, Style{false});
    std::wstring part = RefusedPart(value);
    bool character = value.check.refusal == NameRefusal::kForbiddenChar;
    return Object({{L"value", Text(kept)},
                   {L"cut", Bool(cut)},
                   {L"length", Number(value.value.size())},
                   {L"accepted", Bool(value.check.refusal == NameRefusal::kNone)},
                   {L"refusal", Text(WordsFor(value.check.refusal).name)},
                   {character ? L"character" : L"component", TextOrNull(!part.empty(), part)},
                   {L"rule", TextOrNull(!rule.empty(), rule)}});
}

// A field under its JSON key: its name in camelCase.
std::wstring JsonField(const FieldCheck& field) {
    std::wstring key = field.name;
    if (key == L"working directory") key = L"workingDirectory";
    return Text(key) + L": " +
           Object({{L"actual", Text(field.actual)},
                   {L"expected", Text(field.expected)},
                   {L"match", Text(kMatchNames[static_cast<int>(field.match)])}});
}

std::wstring JsonShortcut(const ShortcutCheck& shortcut) {
    std::wstring fields;
    for (const FieldCheck& field : shortcut.fields) {
        fields += (fields.empty() ? L"{\n        " : L",\n        ") + JsonField(field);
    }
    return Object({{L"path", Text(shortcut.path)},
                   {L"present", Bool(shortcut.present)},
                   {L"readable", Bool(shortcut.readable)},
                   {L"targetExists", Bool(shortcut.targetExists)},
                   {L"fields", shortcut.readable ? fields + L"}" : L"null"}});
}

std::wstring JsonFinding(const Finding& found) {
    const Severity severity = found.kind->severity;
    const bool shortcut = found.kind != &finding::kEmptyFolder;
    if (severity == Severity::kLeftover) {
        return Object({{L"path", Text(found.path)},
                       {L"kind", Text(Ascii(found.kind->name))},
                       {L"folderName", TextOrNull(shortcut, found.folder)},
                       {L"revision", TextOrNull(shortcut, found.revision)},
                       {L"countsAsProblem", Bool(found.counts)},
                       {L"why", Text(Sentence(found, false))}});
    }
    const bool field =
        found.kind == &finding::kFieldDiffers || found.kind == &finding::kTargetMissing;
    return Object({{L"kind", Text(Ascii(found.kind->name))},
                   {L"path", TextOrNull(!found.path.empty(), found.path)},
                   {L"field", field ? L"{" + JsonField(found.field) + L"}" : L"null"},
                   {L"message", Text(Sentence(found, false))}});
}

std::vector<std::wstring> JsonFindings(const Report& report, Severity severity) {
    std::vector<std::wstring> items;
    for (const Finding& found : report.findings) {
        if (found.kind->severity == severity) items.push_back(JsonFinding(found));
    }
    return items;
}

}  // namespace

std::wstring Sentence(const Finding& found, bool forPerson) {
    return Fill(found.kind->sentence, found, Style{forPerson});
}

std::wstring JsonReport(const Report& report) {
    const bool rootKnown = report.programLocal && !report.tooLong;
    std::vector<std::wstring> folders;
    for (const FolderCheck& folder : report.folders) {
        std::vector<std::wstring> shortcuts;
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            shortcuts.push_back(JsonShortcut(shortcut));
        }
        folders.push_back(Object({{L"kind", Text(KindOf(folder.allUsers))},
                                  {L"path", TextOrNull(!folder.path.empty(), folder.path)},
                                  {L"local", Bool(folder.local)},
                                  {L"usedByThisAccount", Bool(folder.used)},
                                  {L"shortcuts", Array(shortcuts, 6)}}));
    }
    return L"{\n  \"program\": " +
           Object({{L"path", Text(report.program)},
                   {L"local", Bool(report.programLocal)},
                   {L"found", Bool(report.programFound)},
                   {L"tooLong", Bool(report.tooLong)},
                   {L"tooShallow", Bool(report.tooShallow)},
                   {L"levels", Number(report.levels)},
                   {L"layoutUsable", Bool(report.layoutOk)},
                   {L"installRoot", TextOrNull(rootKnown, report.root)}}) +
           L",\n  \"releaseFile\": " +
           Object({{L"path", TextOrNull(!report.releaseFile.empty(), report.releaseFile)},
                   {L"found", Bool(report.releaseFound)},
                   {L"size", report.releaseExists ? Number(report.releaseSize) : L"null"},
                   {L"read", Bool(report.releaseRead)},
                   {L"folderName", JsonValue(report, report.folder)},
                   {L"revision", JsonValue(report, report.revision)}}) +
           L",\n  \"programsWrite\": " + Bool(report.writes) + L",\n  \"administrator\": " +
           Bool(report.administrator) + L",\n  \"limitedToken\": " + Bool(report.limitedToken) +
           L",\n  \"programsFolders\": " + Array(folders, 4) + L",\n  \"leftovers\": " +
           Array(JsonFindings(report, Severity::kLeftover), 4) + L",\n  \"leftoverSearchCut\": " +
           Bool(report.searchCut) + L",\n  \"notes\": " +
           Array(JsonFindings(report, Severity::kNote), 4) + L",\n  \"problems\": " +
           Array(JsonFindings(report, Severity::kProblem), 4) + L",\n  \"ok\": " +
           Bool(CountOf(report, Severity::kProblem) == 0) + L"\n}\n";
}

std::wstring TextReport(const Report& report) {
    Style style{true};
    auto count = [](uint64_t number) { return std::to_wstring(number); };
    std::wstring out =
        L"check_shortcuts: what add_shortcuts and remove_shortcuts make of this install\n\n"
        L"Program\n  path          " +
        style.Shown(report.program) + L"\n  file          " +
        (!report.programLocal  ? L"not looked at: not on a local drive"
         : report.programFound ? L"found"
                               : L"not found") +
        L"\n";
    if (report.programLocal && !report.tooLong) {
        out += L"  install root  " + style.Shown(report.root) + L"\n  layout        " +
               (report.layoutOk ? L"usable: " : L"NOT usable: ") + count(report.levels) +
               L" levels below the root, " + count(report.program.size()) + L" characters\n";
    }

    out += L"\nRelease file  " +
           (report.releaseFile.empty() ? std::wstring(L"none (the programs read none)")
                                       : style.Shown(report.releaseFile)) +
           L"\n";
    if (!report.releaseFile.empty()) {
        out += L"  file          " +
               (!report.releaseRead    ? L"NOT READ: " + count(report.releaseSize) + L" bytes"
                : report.releaseFound  ? std::wstring(L"found")
                : report.releaseExists ? std::wstring(L"cannot be opened for reading")
                                       : std::wstring(L"NOT FOUND")) +
               L"\n";
        const std::pair<const wchar_t*, const ValueCheck*> values[] = {
            {L"folder name", &report.folder}, {L"revision   ", &report.revision}};
        for (const auto& value : values) {
            std::wstring refusal = RefusalText(*value.second, style);
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
        out += std::wstring(L"\n") + (folder.allUsers ? L"All-users" : L"Per-user") +
               L" Programs folder  " +
               (folder.path.empty() ? L"(cannot be found)" : style.Shown(folder.path)) +
               (folder.used ? L"  <- this account's run" : L"") + L"\n";
        if (!folder.local) {
            out += L"  (not looked at: not on a local drive)\n";
        } else if (folder.shortcuts.empty()) {
            out += report.releaseRead || report.releaseFile.empty()
                       ? L"  (not checked: the programs write nothing)\n"
                       : L"  (not checked: relinfo.xml was not read)\n";
        }
        for (const ShortcutCheck& shortcut : folder.shortcuts) {
            out += std::wstring(shortcut.present ? L"  present  " : L"  missing  ") +
                   style.Shown(Below(folder.path, shortcut.path)) + L"\n";
            if (shortcut.present && !shortcut.readable) {
                out += L"           cannot be read as a shortcut\n";
            }
            for (const FieldCheck& field : shortcut.fields) {
                if (&field == &shortcut.fields.front() || field.match != FieldMatch::kSame) {
                    out += FieldLine(field, shortcut.targetExists, style);
                }
            }
        }
    }

    out += L"\nLeftovers\n";
    std::wstring leftovers;
    std::wstring notes;
    std::wstring problems;
    for (const Finding& found : report.findings) {
        switch (found.kind->severity) {
            case Severity::kLeftover:
                leftovers += L"  " + style.Shown(found.path) + L"\n           " +
                             Sentence(found, true) +
                             (found.counts || found.kind == &finding::kEmptyFolder
                                  ? L""
                                  : L" (not judged: relinfo.xml was not read)") +
                             L"\n";
                break;
            case Severity::kNote:
                notes += L"\nNote: " + Sentence(found, true) + L"\n";
                break;
            case Severity::kProblem:
                problems += L"  - " + Sentence(found, true) + L"\n";
                break;
        }
    }
    out += (leftovers.empty() ? L"  none\n" : leftovers) + notes;
    const size_t problemCount = CountOf(report, Severity::kProblem);
    if (problemCount == 0) {
        return out +
               L"\nResult: all well. The shortcuts are where this account's run puts them "
               L"and point at existing files of this install.\n";
    }
    return out + L"\nProblems\n" + problems + L"\nResult: " + count(problemCount) +
           (problemCount == 1 ? L" problem" : L" problems") + L" (exit code 1)\n";
}
