#include "leftovers.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "add_shortcuts/catalogue.h"
#include "files.h"
#include "remove_shortcuts/catalogue.h"

namespace {

constexpr int kScanDepth = 6;           // folder levels looked through below a Programs folder
constexpr size_t kScanEntries = 20000;  // entries looked at in one Programs folder

struct Scan {
    std::wstring programs;
    size_t budget = kScanEntries;
    bool cut = false;
    std::vector<std::wstring> shortcuts;     // .lnk files, relative to the Programs folder
    std::vector<std::wstring> emptyFolders;  // folders of the suite's shape without files
};

std::wstring LastComponent(const std::wstring& relative) {
    size_t last = relative.rfind(L'\\');
    return last == std::wstring::npos ? relative : relative.substr(last + 1);
}

// What one folder holds, as the search needs it.
struct Contents {
    bool holdsFile = false;  // a file at any depth, or not looked through in full
    size_t folders = 0;
    bool onlyEmptyUtilities = false;  // its one entry is a Utilities folder without files
};

// Looks through `relative` below the Programs folder (reparse points are not followed).
Contents ScanFolder(const std::wstring& relative, int depth, const std::wstring& suiteFolder,
                    Scan* scan) {
    Contents contents;
    std::wstring folder = relative.empty() ? scan->programs : scan->programs + L"\\" + relative;
    WIN32_FIND_DATAW data;
    HANDLE rawFind = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (rawFind == INVALID_HANDLE_VALUE) {
        contents.holdsFile = true;
        return contents;
    }
    std::unique_ptr<void, decltype(&::FindClose)> find(rawFind, &::FindClose);
    size_t entries = 0;
    bool emptyUtilities = false;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (scan->budget == 0) {
            scan->cut = true;
            contents.holdsFile = true;
            return contents;
        }
        --scan->budget;
        ++entries;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            contents.holdsFile = true;
            if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), L".lnk")) {
                scan->shortcuts.push_back(child);
            }
            continue;
        }
        ++contents.folders;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || depth >= kScanDepth) {
            contents.holdsFile = true;
            continue;
        }
        Contents inner = ScanFolder(child, depth + 1, suiteFolder, scan);
        contents.holdsFile = contents.holdsFile || inner.holdsFile;
        emptyUtilities =
            !inner.holdsFile && inner.folders == 0 && EqualNoCase(name, kUtilitiesName);
    } while (FindNextFileW(find.get(), &data));
    contents.onlyEmptyUtilities = entries == 1 && emptyUtilities;
    // The suite's shape: a folder whose one entry is an empty Utilities folder, or the current
    // suite folder itself, without files.
    if (!contents.holdsFile && !relative.empty() &&
        (contents.onlyEmptyUtilities || EqualNoCase(relative, suiteFolder))) {
        scan->emptyFolders.push_back(relative);
    }
    return contents;
}

// Whether the shortcut `relative` (below the Programs folder) is one of the suite's, by the names
// the programs write and delete: <title>[ <revision>].lnk at the top of a folder or in its
// Utilities, the longest title that fits; one the installer writes must also start its program
// (by the file name of its target, which is not looked at).
bool MatchSuiteShortcut(const std::wstring& programs, const std::wstring& relative,
                        std::wstring* folder, std::wstring* revision, bool* blankName) {
    size_t slash = relative.rfind(L'\\');
    std::wstring directory = slash == std::wstring::npos ? L"" : relative.substr(0, slash);
    std::wstring stem = relative.substr(slash == std::wstring::npos ? 0 : slash + 1);
    stem.resize(stem.size() - 4);  // ".lnk"
    const bool inUtilities = EqualNoCase(LastComponent(directory), kUtilitiesName);
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
        ShortcutFields fields;
        if (FAILED(ReadShortcutFile((programs + L"\\" + relative).c_str(), &fields))) return false;
        std::wstring file = fields.target.substr(fields.target.find_last_of(L"\\/") + 1);
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

LeftoverKind KindOf(const Report& report, const std::wstring& folder, const std::wstring& revision,
                    bool blankName) {
    if (!report.writes) return LeftoverKind::kFound;
    if (blankName) return LeftoverKind::kBlankName;
    const bool sameFolder = EqualNoCase(folder, report.folder.value);
    const bool sameRevision = EqualNoCase(revision, report.revision.value);
    if (!sameFolder && !sameRevision) return LeftoverKind::kOtherFolderAndRevision;
    if (!sameFolder) return LeftoverKind::kOtherFolder;
    if (!sameRevision) return LeftoverKind::kOtherRevision;
    // One of the five, or another name remove_shortcuts deletes with the current values.
    return LeftoverKind::kFound;
}

}  // namespace

void FindLeftovers(Report* report) {
    size_t shortcuts = 0;
    size_t emptyFolders = 0;
    for (const FolderCheck& folder : report->folders) {
        if (folder.path.empty() || !folder.local) continue;
        Scan scan;
        scan.programs = folder.path;
        ScanFolder(L"", 0, report->writes ? report->folder.value : L"", &scan);
        report->searchCut = report->searchCut || scan.cut;

        for (const std::wstring& relative : scan.shortcuts) {
            Leftover leftover;
            bool blankName = false;
            if (!MatchSuiteShortcut(folder.path, relative, &leftover.folder, &leftover.revision,
                                    &blankName)) {
                continue;
            }
            leftover.kind = KindOf(*report, leftover.folder, leftover.revision, blankName);
            if (report->writes && leftover.kind == LeftoverKind::kFound) continue;
            leftover.path = folder.path + L"\\" + relative;
            // Values refused: remove_shortcuts deletes nothing, so every suite shortcut stays.
            // Values unknown (relinfo.xml not read): nothing can be said of it.
            leftover.counts = report->releaseRead;
            report->leftovers.push_back(leftover);
            if (leftover.counts) ++shortcuts;
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
                                             LeftoverKind::kEmptyFolder, L"", L"", false});
                ++emptyFolders;
            }
        }
    }
    // Shortcuts of the suite count; empty folders may be another program's and are only listed.
    if (shortcuts > 0) {
        Problem problem;
        problem.kind = ProblemKind::kLeftovers;
        problem.count = shortcuts;
        report->problems.push_back(problem);
    }
    if (emptyFolders > 0) report->notes.push_back({NoteKind::kEmptyFolders, emptyFolders});
    if (report->searchCut) report->notes.push_back({NoteKind::kSearchCut, kScanEntries});
}
